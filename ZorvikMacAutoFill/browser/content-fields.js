// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill, content scripts: finding the fields of a frame that take a one-time code.
// content.js tells how the content scripts fit together.
(() => {
    "use strict";

    // Injected again by the toolbar button: the copy already running keeps its state.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    const zorvik = (globalThis.zorvikAutoFill ??= {});

    const CODE_WORDS =
        /otp|one.?time|2fa|mfa|totp|verif\w*.?code|auth\w*.?code|security.?code|passcode|sms.?code/i;
    // Numeric fields that hold something else than a code.
    const OTHER_NUMBERS =
        /zip|postal|post.?code|phone|mobile|tel\b|card|cvc|cvv|ccv|expir|year|month|day|birth|amount|price|qty|quantity|age\b/i;
    const OTHER_AUTOCOMPLETE =
        /\b(postal-code|tel|tel-\S+|cc-\S+|bday\S*|transaction-amount|street-address|address-line\d)\b/;
    const TEXT_TYPES = new Set(["text", "tel", "number", "password", "search", ""]);

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

    Object.assign(zorvik, { findTargets, isUsable });
})();
