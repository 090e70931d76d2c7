// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill: the options page. Its button asks the helper to run its configuration.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const button = document.getElementById("configure");
const status = document.getElementById("status");

function report(text, failed) {
    status.textContent = text;
    status.classList.toggle("failed", failed);
}

button.addEventListener("click", async () => {
    button.disabled = true;
    report("Asking the helper…", false);
    let answer;
    try {
        answer = await api.runtime.sendMessage({ zorvik: { type: "prepareConfiguration" } });
    } catch (error) {
        answer = { result: "error", message: error?.message ?? String(error) };
    }
    if (answer?.result === "configurationCompleted") {
        report("Zorvik AutoFill is ready.", false);
    } else if (answer?.result === "cancelled" && answer.error?.code === 1) {
        report("Cancelled.", false);
    } else if (answer?.result === "cancelled") {
        report("The Zorvik helper answered but could not open its window.", true);
    } else {
        report(
            "The Zorvik helper did not answer. Is Zorvik installed, and did you run " +
                "ZorvikMacAutoFill --install?",
            true,
        );
    }
    button.disabled = false;
});
