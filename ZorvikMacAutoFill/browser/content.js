// Zorvik AutoFill: the content script. Runs in every frame of http and https pages, finds the
// one-time-code field, offers the code from Zorvik beside it when Zorvik holds an identity for
// this site, and fills the code in when the user picks the offer (or clicks the toolbar button).
//
// The code travels from the helper through the background into the field and nowhere else: it
// is never logged, stored or shown in the suggestion.
(() => {
    "use strict";

    // Injected again by the toolbar button into tabs opened before the extension was loaded.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    globalThis.zorvikAutoFillLoaded = true;

    const api = globalThis.browser ?? globalThis.chrome;
    const LOG_PREFIX = "Zorvik AutoFill:";

    // Error codes of a `cancelled` answer.
    const USER_CANCELED = 1;
    const USER_INTERACTION_REQUIRED = 100;

    const RESCAN_DELAY_MS = 250;
    const CARD_MIN_WIDTH = 220;
    const CARD_MAX_WIDTH = 360;
    const IDENTITIES_MAX_AGE_MS = 60000;

    const CODE_WORDS =
        /otp|one.?time|2fa|mfa|totp|verif\w*.?code|auth\w*.?code|security.?code|passcode|sms.?code/i;
    // Numeric fields that hold something else than a code.
    const OTHER_NUMBERS =
        /zip|postal|post.?code|phone|mobile|tel\b|card|cvc|cvv|ccv|expir|year|month|day|birth|amount|price|qty|quantity|age\b/i;
    const OTHER_AUTOCOMPLETE =
        /\b(postal-code|tel|tel-\S+|cc-\S+|bday\S*|transaction-amount|street-address|address-line\d)\b/;
    const TEXT_TYPES = new Set(["text", "tel", "number", "password", "search", ""]);

    // --- Finding the fields ---------------------------------------------------------------------

    function isUsable(input) {
        if (!(input instanceof HTMLInputElement) || !input.isConnected) {
            return false;
        }
        if (!TEXT_TYPES.has(input.type) || input.disabled || input.readOnly || input.hidden) {
            return false;
        }
        const style = getComputedStyle(input);
        if (style.display === "none" || style.visibility === "hidden" || style.visibility === "collapse") {
            return false;
        }
        const box = input.getBoundingClientRect();
        return box.width > 0 && box.height > 0;
    }

    // The text of the elements that aria-labelledby names.
    function textOfIds(ids) {
        return (ids ?? "")
            .split(/\s+/)
            .map((id) => (id ? document.getElementById(id)?.textContent ?? "" : ""))
            .join(" ");
    }

    // Everything a page says about what an input is for.
    function describe(input) {
        const labels = Array.from(input.labels ?? [], (label) => label.textContent ?? "");
        return [
            input.name,
            input.id,
            input.getAttribute("aria-label"),
            input.placeholder,
            textOfIds(input.getAttribute("aria-labelledby")),
            ...labels,
        ]
            .filter(Boolean)
            .join(" ");
    }

    function hasOneTimeCodeAutocomplete(input) {
        return /\bone-time-code\b/i.test(input.getAttribute("autocomplete") ?? "");
    }

    function looksNumeric(input) {
        const pattern = input.getAttribute("pattern") ?? "";
        return (
            input.inputMode === "numeric" ||
            input.type === "number" ||
            input.type === "tel" ||
            /^(\[0-9\]|\\d)[*+]$|^(\[0-9\]|\\d)\{\d(,\d)?\}$/.test(pattern)
        );
    }

    function hasCodeLength(input) {
        return input.maxLength >= 4 && input.maxLength <= 8;
    }

    // A field that looks like it takes a one-time code, when it says nothing about it itself.
    function isLikelyCodeField(input) {
        const text = describe(input);
        const autocomplete = input.getAttribute("autocomplete") ?? "";
        if (OTHER_AUTOCOMPLETE.test(autocomplete)) {
            return false;
        }
        if (CODE_WORDS.test(text)) {
            return true;
        }
        return (
            input.type !== "password" && looksNumeric(input) && hasCodeLength(input) && !OTHER_NUMBERS.test(text)
        );
    }

    // All inputs of the document, including those inside open shadow roots, in document order.
    function allInputs() {
        const found = [];
        const visit = (root) => {
            const walker = document.createTreeWalker(root, NodeFilter.SHOW_ELEMENT);
            for (let node = walker.currentNode; node; node = walker.nextNode()) {
                if (node instanceof HTMLInputElement) {
                    found.push(node);
                }
                if (node.shadowRoot) {
                    visit(node.shadowRoot);
                }
            }
        };
        if (document.body) {
            visit(document.body);
        }
        return found;
    }

    function closeTogether(a, b) {
        if (a.form !== b.form) {
            return false;
        }
        let ancestor = a.parentElement;
        for (let level = 0; ancestor && level < 3; level++, ancestor = ancestor.parentElement) {
            if (ancestor.contains(b)) {
                return true;
            }
        }
        return false;
    }

    // Runs of 4 to 8 adjacent one-character inputs that together take one code.
    function splitRuns(inputs) {
        const runs = [];
        let run = [];
        const close = () => {
            if (run.length >= 4 && run.length <= 8) {
                runs.push(run);
            }
            run = [];
        };
        for (const input of inputs) {
            const isBox = input.maxLength === 1 && input.type !== "password" && isUsable(input);
            if (!isBox) {
                close();
                continue;
            }
            if (run.length > 0 && !closeTogether(run[run.length - 1], input)) {
                close();
            }
            run.push(input);
        }
        close();
        return runs;
    }

    // The targets of this frame: each is a list of inputs that take one code (one input, or the
    // boxes of a split code). Fields marked as one-time-code fields come first; only when there
    // are none do the heuristics speak.
    function findTargets() {
        const inputs = allInputs();
        const runs = splitRuns(inputs);
        const runOf = new Map();
        for (const r of runs) {
            for (const input of r) {
                runOf.set(input, r);
            }
        }
        const targets = [];
        const taken = new Set();
        const add = (fields) => {
            if (!taken.has(fields[0])) {
                fields.forEach((f) => taken.add(f));
                targets.push(fields);
            }
        };

        for (const input of inputs) {
            if (hasOneTimeCodeAutocomplete(input) && isUsable(input)) {
                add(runOf.get(input) ?? [input]);
            }
        }
        if (targets.length > 0) {
            return targets;
        }
        for (const input of inputs) {
            if (runOf.has(input)) {
                add(runOf.get(input));
            } else if (isUsable(input) && isLikelyCodeField(input)) {
                add([input]);
            }
        }
        return targets;
    }

    // --- Talking to the background ---------------------------------------------------------------

    async function ask(message) {
        try {
            const answer = await api.runtime.sendMessage({ zorvik: message });
            return answer ?? { result: "error", message: "no answer" };
        } catch (error) {
            // The extension was reloaded or removed under this page.
            return { result: "error", message: error?.message ?? String(error) };
        }
    }

    let identities = null; // the helper's identities for this host, once known
    let identitiesAskedAt = 0;
    let identitiesPending = null;

    function refreshIdentities() {
        const fresh = Date.now() - identitiesAskedAt < IDENTITIES_MAX_AGE_MS;
        if (identitiesPending || (identities !== null && fresh)) {
            return identitiesPending ?? Promise.resolve(identities);
        }
        identitiesAskedAt = Date.now();
        identitiesPending = ask({ type: "identities", host: location.hostname }).then((answer) => {
            identitiesPending = null;
            if (answer.result === "identities" && Array.isArray(answer.identities)) {
                identities = answer.identities.filter(
                    (identity) =>
                        identity?.serviceIdentifier?.type === "domain" &&
                        typeof identity.serviceIdentifier.identifier === "string" &&
                        typeof identity.recordIdentifier === "string",
                );
            } else {
                identities = identities ?? [];
            }
            return identities;
        });
        return identitiesPending;
    }

    function codeRequestFor(identity) {
        return {
            type: 3,
            credentialIdentity: {
                serviceIdentifier: { identifier: identity.serviceIdentifier.identifier, type: "domain" },
                recordIdentifier: identity.recordIdentifier,
            },
        };
    }

    // Asks for the code without the user first; when the helper needs the user, asks again with
    // its panel, which waits for the code (that answer can take minutes). Resolves with the code,
    // or null when there is none (cancelled, no helper, no display for the panel).
    async function requestCode(identity, onWaiting) {
        const request = codeRequestFor(identity);
        let answer = await ask({ type: "provideWithoutUserInteraction", request });
        if (answer.result === "cancelled" && answer.error?.code === USER_INTERACTION_REQUIRED) {
            onWaiting();
            answer = await ask({ type: "prepareInterfaceToProvide", request });
        }
        if (answer.result === "code" && typeof answer.code === "string" && answer.code !== "") {
            return answer.code;
        }
        if (answer.result === "cancelled") {
            const reasons = {
                [USER_CANCELED]: "cancelled in Zorvik",
                [USER_INTERACTION_REQUIRED]: "no code yet, and Zorvik could not show its panel",
            };
            const reason = reasons[answer.error?.code] ?? `error ${answer.error?.code}`;
            console.info(LOG_PREFIX, `nothing filled (${reason})`);
        } else {
            console.info(LOG_PREFIX, `nothing filled (${answer.message ?? answer.result})`);
        }
        return null;
    }

    // --- Filling ---------------------------------------------------------------------------------

    const valueSetter = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, "value").set;
    let filling = false;

    // Sets the value the way typing does, so that frameworks that track the value through input
    // events see it.
    function setValue(input, value) {
        input.focus();
        valueSetter.call(input, value);
        input.dispatchEvent(new Event("input", { bubbles: true }));
        input.dispatchEvent(new Event("change", { bubbles: true }));
    }

    function fill(fields, code) {
        filling = true;
        try {
            if (fields.length === 1) {
                setValue(fields[0], code);
            } else {
                // One character a box; separators that a code may be shown with take none.
                const characters = Array.from(code.replace(/[\s-]/g, ""));
                fields.forEach((field, index) => setValue(field, characters[index] ?? ""));
            }
        } finally {
            filling = false;
        }
    }

    // --- The suggestion ----------------------------------------------------------------------------

    const PADLOCK_SVG =
        '<svg viewBox="0 0 24 24" width="20" height="20" aria-hidden="true">' +
        '<path fill="rgb(212,168,51)" d="M12 2.2a5.3 5.3 0 0 0-5.3 5.3v2.6H5.9A1.9 1.9 0 0 0 4 12v8a1.9 1.9 0 0 0 1.9 1.9h12.2A1.9 1.9 0 0 0 20 20v-8a1.9 1.9 0 0 0-1.9-1.9h-.8V7.5A5.3 5.3 0 0 0 12 2.2Zm0 2.3a3 3 0 0 1 3 3v2.6H9V7.5a3 3 0 0 1 3-3Zm0 8.6a1.6 1.6 0 0 1 .8 3v2.2h-1.6v-2.2a1.6 1.6 0 0 1 .8-3Z"/>' +
        "</svg>";

    const CARD_CSS = `
        :host { all: initial; }
        .card {
            box-sizing: border-box;
            width: 100%;
            padding: 4px;
            background: #ffffff;
            border: 1px solid rgba(0, 0, 0, 0.14);
            border-radius: 10px;
            box-shadow: 0 6px 20px rgba(0, 0, 0, 0.16), 0 1px 3px rgba(0, 0, 0, 0.10);
            font: 13px/1.3 system-ui, -apple-system, "Segoe UI", Roboto, Cantarell, "DejaVu Sans",
                sans-serif;
            color: #1f2328;
            cursor: default;
            user-select: none;
        }
        .option {
            display: flex;
            align-items: center;
            gap: 10px;
            padding: 7px 10px;
            border-radius: 7px;
            cursor: pointer;
        }
        .option:hover, .option.active { background: #f3efe2; }
        .icon { flex: none; display: flex; }
        .text { display: flex; flex-direction: column; min-width: 0; }
        .label {
            font-weight: 600;
            white-space: nowrap;
            overflow: hidden;
            text-overflow: ellipsis;
        }
        .source { font-size: 11.5px; color: #656d76; }
        .waiting .option { cursor: progress; }
    `;

    const suggestion = {
        host: null,
        root: null,
        option: null,
        label: null,
        source: null,
        fields: null, // the target it is shown for
        identity: null,
        active: false,
        busy: false,
    };

    function buildSuggestion() {
        const host = document.createElement("zorvik-autofill-suggestion");
        host.style.cssText =
            "all: initial !important; position: fixed !important; z-index: 2147483647 !important;" +
            "display: none !important; margin: 0 !important; padding: 0 !important;";
        const root = host.attachShadow({ mode: "closed" });
        root.innerHTML =
            `<style>${CARD_CSS}</style>` +
            '<div class="card" role="listbox" aria-label="Zorvik AutoFill">' +
            '<div class="option" role="option" aria-selected="false">' +
            `<span class="icon">${PADLOCK_SVG}</span>` +
            '<span class="text"><span class="label"></span><span class="source">From Zorvik</span></span>' +
            "</div></div>";
        suggestion.host = host;
        suggestion.root = root;
        suggestion.option = root.querySelector(".option");
        suggestion.label = root.querySelector(".label");
        suggestion.source = root.querySelector(".source");

        // Keep the focus in the field when the card is pressed.
        root.addEventListener("pointerdown", (event) => event.preventDefault());
        root.addEventListener("mousedown", (event) => event.preventDefault());
        suggestion.option.addEventListener("click", (event) => {
            if (event.isTrusted) {
                choose();
            }
        });
    }

    function setHostStyle(property, value) {
        suggestion.host.style.setProperty(property, value, "important");
    }

    function isShown() {
        return suggestion.fields !== null;
    }

    function boundsOf(fields) {
        const boxes = fields.map((field) => field.getBoundingClientRect());
        const left = Math.min(...boxes.map((b) => b.left));
        const right = Math.max(...boxes.map((b) => b.right));
        const top = Math.min(...boxes.map((b) => b.top));
        const bottom = Math.max(...boxes.map((b) => b.bottom));
        return { left, right, top, bottom };
    }

    // Below the field, or above it when there is no room below; kept inside the viewport.
    function place() {
        if (!isShown()) {
            return;
        }
        const field = boundsOf(suggestion.fields);
        // As wide as the field, within reason.
        const width = Math.max(CARD_MIN_WIDTH, Math.min(field.right - field.left, CARD_MAX_WIDTH));
        setHostStyle("width", `${Math.round(width)}px`);
        const card = suggestion.host.getBoundingClientRect();
        const gap = 4;
        const viewportWidth = document.documentElement.clientWidth || innerWidth;
        let top = field.bottom + gap;
        if (top + card.height > innerHeight && field.top - gap - card.height >= 0) {
            top = field.top - gap - card.height;
        }
        const left = Math.max(4, Math.min(field.left, viewportWidth - card.width - 4));
        setHostStyle("top", `${Math.round(top)}px`);
        setHostStyle("left", `${Math.round(left)}px`);
    }

    let placeRequested = false;
    function placeSoon() {
        if (!placeRequested && isShown()) {
            placeRequested = true;
            requestAnimationFrame(() => {
                placeRequested = false;
                place();
            });
        }
    }

    function setActive(active) {
        suggestion.active = active;
        suggestion.option.classList.toggle("active", active);
        suggestion.option.setAttribute("aria-selected", String(active));
    }

    function setWaiting(waiting) {
        suggestion.root.querySelector(".card").classList.toggle("waiting", waiting);
        suggestion.source.textContent = waiting ? "Waiting for the code in Zorvik…" : "From Zorvik";
        placeSoon();
    }

    function show(fields, identity) {
        if (!suggestion.host) {
            buildSuggestion();
        }
        if (!suggestion.host.isConnected) {
            document.documentElement.appendChild(suggestion.host);
        }
        suggestion.fields = fields;
        suggestion.identity = identity;
        suggestion.label.textContent = identity.label || identity.serviceIdentifier.identifier;
        setActive(false);
        setWaiting(false);
        setHostStyle("display", "block");
        setHostStyle("visibility", "hidden"); // measured first, then placed
        place();
        setHostStyle("visibility", "visible");
    }

    // The target whose offer the user chose, typed over or waved away: not offered again until
    // the focus leaves it.
    let dismissed = null;

    function isDismissed(fields) {
        return dismissed !== null && fields[0] === dismissed[0];
    }

    function hide() {
        suggestion.fields = null;
        suggestion.identity = null;
        if (suggestion.host) {
            setHostStyle("display", "none");
            setActive(false);
        }
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
        if (!fields || filling || suggestion.busy || isDismissed(fields)) {
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
        if (!filling && event.isTrusted && isShown() && !suggestion.busy &&
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

    function start() {
        if (!location.hostname) {
            return;
        }
        document.addEventListener("focusin", onFocusIn, true);
        document.addEventListener("focusout", onFocusOut, true);
        document.addEventListener("keydown", onKeyDown, true);
        document.addEventListener("input", onInput, true);
        addEventListener("scroll", placeSoon, { capture: true, passive: true });
        addEventListener("resize", placeSoon, { passive: true });
        new MutationObserver((records) => {
            const ours = (record) => record.target === suggestion.host;
            if (!records.every(ours)) {
                rescanSoon();
            }
        }).observe(document.documentElement, {
            childList: true,
            subtree: true,
            attributes: true,
            attributeFilter: [
                "type", "autocomplete", "inputmode", "maxlength", "disabled", "readonly", "hidden",
                "style", "class", "name", "id",
            ],
        });
        rescan();
    }

    // The toolbar button: the background hands the code over to fill into this frame's field.
    api.runtime.onMessage.addListener((envelope, sender, sendResponse) => {
        const message = envelope?.zorvik;
        if (sender.id !== api.runtime.id || message === undefined) {
            return false;
        }
        if (message.type === "ping") {
            sendResponse({ ready: true });
            return false;
        }
        if (message.type === "fill" && typeof message.code === "string" &&
            message.host === location.hostname) {
            targets = findTargets();
            const focused = focusedInput();
            const fields = targetOf(focused) ?? targets[0];
            if (fields) {
                hide();
                dismissed = fields;
                fill(fields, message.code);
                sendResponse({ filled: true });
            }
        }
        return false; // frames without a field stay silent
    });

    start();
})();
