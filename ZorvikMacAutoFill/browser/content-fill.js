// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill, content scripts: filling a code into a target's fields. content.js tells
// how the content scripts fit together.
(() => {
    "use strict";

    // Injected again by the toolbar button: the copy already running keeps its state.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    const zorvik = (globalThis.zorvikAutoFill ??= {});

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

    // A page's input events while this is true come from the fill, not from the user.
    function isFilling() {
        return filling;
    }

    Object.assign(zorvik, { fill, isFilling });
})();
