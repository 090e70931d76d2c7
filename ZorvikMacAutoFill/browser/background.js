// SPDX-License-Identifier: GPL-3.0-or-later
// Zorvik AutoFill: the extension's background. It is the only part that talks to the helper
// (ZorvikMacAutoFill, a native-messaging host started once per message), relays the content
// scripts' requests to it, and handles the toolbar button and the options page.
//
// Runs as the service worker in the Chromium family and as a background script in Firefox.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

const HOST_NAME = "net.brontal.zorvik.autofill";
const LOG_PREFIX = "Zorvik AutoFill:";

// The content scripts, in the manifest's order: each builds on the ones before.
const CONTENT_SCRIPTS = api.runtime.getManifest().content_scripts[0].js;

// What a content script may ask for; the toolbar and the options page may ask for the rest.
const PAGE_REQUESTS = new Set(["identities", "provideWithoutUserInteraction", "prepareInterfaceToProvide"]);
const EXTENSION_REQUESTS = new Set(["prepareConfiguration"]);

let lastRequestNumber = 0;

function nextRequestId() {
    lastRequestNumber += 1;
    const random = globalThis.crypto?.randomUUID?.() ?? String(Math.random()).slice(2);
    return `${random}-${lastRequestNumber}`;
}

// A waiting helper (its panel waits for the code) can take minutes. An extension API call every
// 20 seconds keeps the Chromium service worker from being stopped as idle meanwhile.
let pendingHostRequests = 0;
let keepAliveTimer = null;

function holdWorker() {
    pendingHostRequests += 1;
    if (keepAliveTimer === null) {
        keepAliveTimer = setInterval(() => {
            api.runtime.getPlatformInfo().catch(() => {});
        }, 20000);
    }
}

function releaseWorker() {
    pendingHostRequests -= 1;
    if (pendingHostRequests === 0 && keepAliveTimer !== null) {
        clearInterval(keepAliveTimer);
        keepAliveTimer = null;
    }
}

function failure(message) {
    return { result: "error", message };
}

// Sends one request to the helper and resolves with its answer, or with an `error` answer when
// the helper is missing, fails, or answers something that is not an answer to this request.
// Never rejects. Never logs the answer: it may hold a code.
async function askHost(request) {
    const id = nextRequestId();
    const message = { ...request, id };
    holdWorker();
    try {
        const answer = await api.runtime.sendNativeMessage(HOST_NAME, message);
        if (answer === null || typeof answer !== "object" || Array.isArray(answer)) {
            console.error(LOG_PREFIX, `the helper answered "${request.type}" with something else than an object`);
            return failure("the helper's answer is not an object");
        }
        if (answer.id !== id) {
            console.error(LOG_PREFIX, `the helper answered "${request.type}" with another request's id`);
            return failure("the helper answered another request");
        }
        if (answer.result === "error") {
            const reason = answer.message ?? "no reason given";
            console.error(LOG_PREFIX, `the helper refused "${request.type}": ${reason}`);
        }
        return answer;
    } catch (error) {
        const reason = error?.message ?? String(error);
        console.error(
            LOG_PREFIX,
            `could not reach the helper ${HOST_NAME} (${reason}). ` +
                "Is Zorvik installed, and has `ZorvikMacAutoFill --install` registered it with this browser?",
        );
        return failure(`the helper is not available: ${reason}`);
    } finally {
        releaseWorker();
    }
}

// --- Requests from content scripts and the options page ----------------------------------------

function hostOfURL(url) {
    try {
        const parsed = new URL(url);
        return parsed.protocol === "http:" || parsed.protocol === "https:" ? parsed.hostname : null;
    } catch {
        return null;
    }
}

function isExtensionPage(sender) {
    return sender.id === api.runtime.id && typeof sender.url === "string" &&
        sender.url.startsWith(api.runtime.getURL(""));
}

// Builds the request that goes to the helper for a message from a page's content script, or
// returns an error text. The page's host comes from the browser (sender.url), never from the
// page; the helper gives a code only when the identity asked for covers that host.
function pageRequest(message, sender) {
    const host = hostOfURL(sender.url);
    if (host === null || host === "") {
        return "requests come from http and https pages only";
    }
    if (message.type === "identities") {
        return { type: "identities", host };
    }
    const request = message.request;
    const identity = request?.credentialIdentity;
    if (request?.type !== 3 || identity?.serviceIdentifier?.type !== "domain" ||
        typeof identity.recordIdentifier !== "string") {
        return "only one-time codes for a domain are asked for";
    }
    if (typeof identity.serviceIdentifier.identifier !== "string") {
        return "the identity names no domain";
    }
    return {
        type: message.type,
        site: host,
        request: {
            type: 3,
            credentialIdentity: {
                serviceIdentifier: { identifier: identity.serviceIdentifier.identifier, type: "domain" },
                recordIdentifier: identity.recordIdentifier,
            },
        },
    };
}

api.runtime.onMessage.addListener((envelope, sender, sendResponse) => {
    const message = envelope?.zorvik;
    if (message === undefined || sender.id !== api.runtime.id) {
        return false;
    }
    let request;
    if (PAGE_REQUESTS.has(message.type) && sender.tab !== undefined && !isExtensionPage(sender)) {
        request = pageRequest(message, sender);
    } else if (EXTENSION_REQUESTS.has(message.type) && isExtensionPage(sender)) {
        request = { type: message.type };
    } else {
        request = `"${message.type}" may not be asked from here`;
    }
    if (typeof request === "string") {
        console.error(LOG_PREFIX, `refused a request: ${request}`);
        sendResponse(failure(request));
        return false;
    }
    askHost(request).then(sendResponse);
    return true; // answers later
});

// --- The toolbar button ------------------------------------------------------------------------

// Hands the code to the tab's content scripts; the frame that holds a one-time-code field fills
// it in and answers, the others stay silent. Injects the content scripts first when the tab was
// opened before the extension was loaded. Only frames on `host` take it. Resolves with whether a
// frame filled the code.
async function fillInTab(tabId, host, code) {
    try {
        await api.tabs.sendMessage(tabId, { zorvik: { type: "ping" } }, { frameId: 0 });
    } catch {
        await api.scripting.executeScript({ target: { tabId, allFrames: true }, files: CONTENT_SCRIPTS });
    }
    try {
        // Only frames of the page's own host may take the code: never a third-party frame.
        const answer = await api.tabs.sendMessage(tabId, { zorvik: { type: "fill", code, host } });
        return answer?.filled === true;
    } catch {
        return false; // no frame answered: none has a field
    }
}

// Asks the helper for the code for the tab's page (it may show its panel and wait) and fills
// it in.
async function fillFromToolbar(tab) {
    const host = hostOfURL(tab?.url ?? "");
    if (tab?.id === undefined || host === null) {
        console.info(LOG_PREFIX, "the toolbar button fills codes into http and https pages only");
        return;
    }
    const answer = await askHost({
        type: "prepareList",
        serviceIdentifiers: [{ identifier: tab.url, type: "URL" }],
    });
    if (answer.result !== "code" || typeof answer.code !== "string") {
        if (answer.result === "cancelled") {
            console.info(LOG_PREFIX, `no code filled (cancelled, error ${answer.error?.code ?? "unknown"})`);
        }
        return;
    }
    // The panel may have waited for minutes and the tab may show another site by now: the
    // frames check the host themselves, so the code only lands on the site it was asked for.
    try {
        if (!(await fillInTab(tab.id, host, answer.code))) {
            console.info(LOG_PREFIX, "the page has no one-time-code field to fill");
        }
    } catch (error) {
        console.error(LOG_PREFIX, `could not fill the code into the page: ${error?.message ?? error}`);
    }
}

api.action.onClicked.addListener(fillFromToolbar);
