// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill: the content scripts, started by this one. They run in every frame of http and
// https pages, find the one-time-code field, offer the code from Zorvik beside it when Zorvik
// holds an identity for this site, and fill the code in when the user picks the offer (or clicks
// the toolbar button).
//
// The code travels from the helper through the background into the field and nowhere else: it
// is never logged, stored or shown in the suggestion.
//
// The content scripts are several files that the manifest lists in this order (and the
// background injects in the same order): content-fields.js, content-requests.js,
// content-fill.js, content-suggestion.js, content-offer.js, then this one, which starts them.
// They run in the extension's own world of the frame, where each file adds what the later ones
// use to one object, globalThis.zorvikAutoFill, and keeps the rest to itself.
(() => {
    "use strict";

    // Injected again by the toolbar button into tabs opened before the extension was loaded.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    globalThis.zorvikAutoFillLoaded = true;

    const api = globalThis.browser ?? globalThis.chrome;
    const zorvik = (globalThis.zorvikAutoFill ??= {});
    const { onFocusIn, onFocusOut, onKeyDown, onInput, rescan, rescanSoon } = zorvik;
    const { fillFromToolbar, suggestion, placeSoon } = zorvik;

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
            if (fillFromToolbar(message.code)) {
                sendResponse({ filled: true });
            }
        }
        return false; // frames without a field stay silent
    });

    start();
})();