// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill, content scripts: asking the background which identities Zorvik holds for
// this site, and for the code. content.js tells how the content scripts fit together.
(() => {
    "use strict";

    // Injected again by the toolbar button: the copy already running keeps its state.
    if (globalThis.zorvikAutoFillLoaded) {
        return;
    }
    const zorvik = (globalThis.zorvikAutoFill ??= {});

    const api = globalThis.browser ?? globalThis.chrome;
    const LOG_PREFIX = "Zorvik AutoFill:";

    // Error codes of a `cancelled` answer.
    const USER_CANCELED = 1;
    const USER_INTERACTION_REQUIRED = 100;

    const IDENTITIES_MAX_AGE_MS = 60000;

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

    Object.assign(zorvik, { refreshIdentities, requestCode });
})();
