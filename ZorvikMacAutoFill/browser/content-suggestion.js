// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill, content scripts: the suggestion card that offers the code below a field, and
// where it is placed. content.js tells how the content scripts fit together.
(() => {
    "use strict";

    // Injected again by the toolbar button: the copy already running keeps its state.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    const zorvik = (globalThis.zorvikAutoFill ??= {});

    const CARD_MIN_WIDTH = 220;
    const CARD_MAX_WIDTH = 360;

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
                zorvik.choose(); // looked up now: content-offer.js loads after this file
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

    function hide() {
        suggestion.fields = null;
        suggestion.identity = null;
        if (suggestion.host) {
            setHostStyle("display", "none");
            setActive(false);
        }
    }

    Object.assign(zorvik, { suggestion, isShown, placeSoon, setActive, setWaiting, show, hide });
})();
