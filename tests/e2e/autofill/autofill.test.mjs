// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: the Zorvik AutoFill extension in Debian's Chromium, talking to the real helper.
//
//   node autofill.test.mjs HELPER ZORVIK_LATEST [SCREENSHOT.png]
//
// HELPER is the built ZorvikMacAutoFill, ZORVIK_LATEST the built zorvik-latest; SCREENSHOT.png
// receives a picture of the suggestion (and SCREENSHOT-waiting.png one of it waiting for the
// helper's panel). Runs inside scripts/desktop-session (exit 77 elsewhere), where the helper's
// panel opens on the session's X display and xdotool presses its keys.
//
// The scenarios are in scenarios.mjs; this is Chromium's driver, through playwright-core. The
// helper's native-messaging manifest lives in the browser profile. Test pages come from a
// server on 127.0.0.1 that the browser reaches under real-looking host names.
import fs from "node:fs";
import path from "node:path";
import { extensionDir, HOST_NAME, runAutofillTest } from "./scenarios.mjs";

const EXTENSION_ID = "pefndcdalefolcllbmhdfnidbfjfjkgc";
let chromium;

function hostManifest(dirs) {
    return path.join(dirs.profile, "NativeMessagingHosts", `${HOST_NAME}.json`);
}

function registerHost({ helper, dirs }) {
    const manifest = {
        name: HOST_NAME,
        description: "Zorvik AutoFill helper",
        path: helper,
        type: "stdio",
        allowed_origins: [`chrome-extension://${EXTENSION_ID}/`],
    };
    fs.mkdirSync(path.dirname(hostManifest(dirs)), { recursive: true });
    fs.writeFileSync(hostManifest(dirs), JSON.stringify(manifest, null, 2));
}

async function launch({ env, dirs, consoleLines }) {
    const context = await chromium.launchPersistentContext(dirs.profile, {
        executablePath: driver.executable,
        headless: false,
        env,
        viewport: { width: 800, height: 600 },
        ignoreDefaultArgs: ["--disable-extensions"],
        args: [
            "--headless=new",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--disable-quic",
            "--disable-features=DisableLoadExtensionCommandLineSwitch",
            `--disable-extensions-except=${extensionDir}`,
            `--load-extension=${extensionDir}`,
            "--host-resolver-rules=MAP badexample.com 127.0.0.1, MAP *.badexample.com 127.0.0.1, MAP quickconnect.to 127.0.0.1, MAP *.quickconnect.to 127.0.0.1",
        ],
    });
    const remember = (where) => (message) => consoleLines.push(`[${where}] ${message.type()}: ${message.text()}`);
    context.on("console", remember("page"));
    const attach = (worker) => worker.on("console", remember("worker"));
    context.serviceWorkers().forEach(attach);
    context.on("serviceworker", attach);
    let worker = context.serviceWorkers()[0];
    if (!worker) {
        worker = await context.waitForEvent("serviceworker", { timeout: 10000 });
    }
    const id = new URL(worker.url()).host;
    if (id !== EXTENSION_ID) {
        await context.close();
        throw new Error(`the extension loaded with the ID ${id}, not ${EXTENSION_ID}`);
    }
    return {
        page: context.pages()[0] ?? (await context.newPage()),
        // What a click on the toolbar button runs, with the tab as the click shows it (the
        // click lets the extension see the tab's address).
        clickToolbarButton: (page, address) =>
            worker.evaluate(async (address) => {
                const [tab] = await chrome.tabs.query({ active: true, lastFocusedWindow: true });
                await fillFromToolbar({ ...tab, url: address });
            }, address),
        async openOptionsPage() {
            const page = await context.newPage();
            await page.goto(`chrome-extension://${EXTENSION_ID}/options.html`);
            return page;
        },
        close: () => context.close(),
    };
}

// The text inside the suggestion's closed shadow root, read through the DevTools protocol,
// which sees closed roots too; the stylesheet is left out.
async function suggestionText(page, tag) {
    const cdp = await page.context().newCDPSession(page);
    try {
        const { root } = await cdp.send("DOM.getDocument", { depth: -1, pierce: true });
        const children = (node) => [...(node.children ?? []), ...(node.shadowRoots ?? [])];
        const find = (node) => {
            if (node.localName === tag) {
                return node;
            }
            for (const child of children(node)) {
                const found = find(child);
                if (found) {
                    return found;
                }
            }
            return null;
        };
        const text = (node) => {
            if (node.nodeType === 3) {
                return node.nodeValue;
            }
            return node.localName === "style" ? "" : children(node).map(text).join(" ");
        };
        const host = find(root);
        if (!host) {
            return null;
        }
        const shadow = host.shadowRoots?.[0];
        return { mode: shadow?.shadowRootType, text: text(host).replace(/\s+/g, " ").trim() };
    } finally {
        await cdp.detach();
    }
}

const driver = {
    name: "Chromium",
    executable: "/usr/bin/chromium",
    skipWithoutBrowser: false,
    async load() {
        try {
            ({ chromium } = await import("playwright-core"));
            return true;
        } catch {
            return false;
        }
    },
    registerHost,
    hostManifest,
    launch,
    suggestionText,
};

await runAutofillTest(driver);
