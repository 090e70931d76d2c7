// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill, content scripts: when to offer the code. Follows the focus, the keys and the
// user's typing, rescans when the page changes, and fills in the code the user picks or the
// toolbar button hands over. content.js tells how the content scripts fit together.
(() => {
    "use strict";

    // Injected again by the toolbar button: the copy already running keeps its state.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    const zorvik = (globalThis.zorvikAutoFill ??= {});
    const { findTargets, isUsable, refreshIdentities, requestCode, fill, isFilling } = zorvik;
    const { suggestion, isShown, setActive, setWaiting, show, hide } = zorvik;

    const RESCAN_DELAY_MS = 250;

    // The target whose offer the user chose, typed over or waved away: not offered again until
    // the focus leaves it.
    let dismissed = null;

    function isDismissed(fields) {
        return dismissed !== null && fields[0] === dismissed[0];
    }

    async function choose() {
        if (!isShown() || suggestion.busy) {
            return;
        }
        const fields = suggestion.fields;
        setActive(true);
        suggestion.busy = true;
        const code = await requestCode(suggestion.identity, () => setWaiting(true));
        suggestion.busy = false;
        hide();
        dismissed = fields;
        if (code !== null && fields.every((field) => field.isConnected)) {
            fill(fields, code);
        }
    }

    function dismiss() {
        dismissed = suggestion.fields;
        hide();
    }

    // --- Watching the page -----------------------------------------------------------------------

    let targets = [];

    function targetOf(element) {
        return targets.find((fields) => fields.includes(element)) ?? null;
    }

    function eventInput(event) {
        const element = event.composedPath?.()[0] ?? event.target;
        return element instanceof HTMLInputElement ? element : null;
    }

    async function offer(input) {
        const fields = targetOf(input);
        if (!fields || isFilling() || suggestion.busy || isDismissed(fields)) {
            return;
        }
        const known = await refreshIdentities();
        // Still focused, and still a target, after the wait?
        const stillWanted = fields.includes(focusedInput()) && !isDismissed(fields) && !suggestion.busy;
        if (known.length === 0 || !stillWanted) {
            return;
        }
        if (fields.some((field) => field.value !== "") && fields.length === 1) {
            return; // the user already has something there
        }
        show(fields, known[0]);
    }

    function focusedInput() {
        let element = document.activeElement;
        while (element?.shadowRoot?.activeElement) {
            element = element.shadowRoot.activeElement;
        }
        return element;
    }

    function onFocusIn(event) {
        const input = eventInput(event);
        if (!input) {
            return;
        }
        if (isShown() && suggestion.fields.includes(input)) {
            return;
        }
        if (isShown() && !suggestion.busy) {
            hide();
        }
        offer(input);
    }

    function onFocusOut() {
        // Wait for the focus to land: moving between the boxes of a split code keeps the card.
        setTimeout(() => {
            const focused = focusedInput();
            if (isShown() && !suggestion.busy && !suggestion.fields.includes(focused)) {
                hide();
            }
            if (dismissed !== null && !dismissed.includes(focused)) {
                dismissed = null;
            }
        }, 0);
    }

    function onKeyDown(event) {
        const inField = isShown() && suggestion.fields.includes(eventInput(event));
        if (!inField || suggestion.busy || !event.isTrusted) {
            return;
        }
        if (event.key === "ArrowDown") {
            setActive(true);
            event.preventDefault();
        } else if (event.key === "ArrowUp" && suggestion.active) {
            setActive(false);
            event.preventDefault();
        } else if (event.key === "Enter" && (suggestion.active || suggestion.fields.every((f) => !f.value))) {
            event.preventDefault();
            event.stopPropagation();
            choose();
        } else if (event.key === "Escape") {
            dismiss();
            event.preventDefault();
        }
    }

    function onInput(event) {
        // The user types a code themselves: the offer steps aside.
        if (!isFilling() && event.isTrusted && isShown() && !suggestion.busy &&
            suggestion.fields.includes(eventInput(event)) && eventInput(event).value !== "") {
            dismiss();
        }
    }

    function rescan() {
        targets = findTargets();
        if (targets.length > 0) {
            refreshIdentities();
        }
        const stillThere = (field) => field.isConnected && isUsable(field);
        if (isShown() && !suggestion.busy && !suggestion.fields.every(stillThere)) {
            hide();
        }
        const focused = focusedInput();
        if (!isShown() && focused instanceof HTMLInputElement && targetOf(focused)) {
            offer(focused);
        }
    }

    let rescanTimer = null;
    function rescanSoon() {
        if (rescanTimer === null) {
            rescanTimer = setTimeout(() => {
                rescanTimer = null;
                rescan();
            }, RESCAN_DELAY_MS);
        }
    }

    // The toolbar button's code: into the focused target, else into the frame's first one.
    // Returns whether the frame had one.
    function fillFromToolbar(code) {
        targets = findTargets();
        const focused = focusedInput();
        const fields = targetOf(focused) ?? targets[0];
        if (fields) {
            hide();
            dismissed = fields;
            fill(fields, code);
        }
        return Boolean(fields);
    }

    Object.assign(zorvik, { choose, onFocusIn, onFocusOut, onKeyDown, onInput });
    Object.assign(zorvik, { rescan, rescanSoon, fillFromToolbar });
})();
