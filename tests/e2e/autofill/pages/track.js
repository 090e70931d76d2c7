// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps a model of the inputs the way a framework does: it updates only from input events and
// only when the value moved past what the framework itself last wrote through the element's
// own `value` property (so a value set that way alone goes unseen, as in React).
window.seen = [];
window.model = {};
const valueProperty = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, "value");

function track(input) {
  const key = input.name || input.id;
  let lastWritten = valueProperty.get.call(input);
  Object.defineProperty(input, "value", {
    configurable: true,
    get() {
      return valueProperty.get.call(this);
    },
    set(value) {
      lastWritten = String(value);
      valueProperty.set.call(this, value);
    },
  });
  input.addEventListener("input", (event) => {
    window.seen.push({ type: "input", key, trusted: event.isTrusted });
    const now = valueProperty.get.call(input);
    if (now !== lastWritten) {
      lastWritten = now;
      window.model[key] = now;
    }
  });
  input.addEventListener("change", (event) => {
    window.seen.push({ type: "change", key, trusted: event.isTrusted });
  });
}

function trackAll(root) {
  for (const input of root.querySelectorAll("input")) {
    if (!input.dataset.tracked) {
      input.dataset.tracked = "1";
      track(input);
    }
  }
}
trackAll(document);
window.trackAll = trackAll;
