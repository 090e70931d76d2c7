// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: the Zorvik AutoFill extension in Debian's Firefox ESR, talking to the real helper.
//
//   node autofill-firefox.test.mjs HELPER ZORVIK_LATEST [SCREENSHOT.png]
//
// The same scenarios as autofill.test.mjs (scenarios.mjs), driven over WebDriver BiDi by our own
// client (bidi.mjs). Exits 77 outside scripts/desktop-session or without firefox-esr.
//
// The extension is installed as a temporary add-on from its source folder; the helper is
// registered the way a user does it, by `ZorvikMacAutoFill --install`, which writes Firefox's
// manifest under HOME. Firefox resolves the test pages' host names to 127.0.0.1 itself.
//
// WebDriver BiDi reaches only web pages, so the two things a user does in the extension's own
// pages go through the browser window (system access, which the test switches on): opening
// the options page in a tab, and the toolbar button, whose click runs the background's
// fillFromToolbar() as that page calls it.
import { randomUUID } from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { spawnSync } from "node:child_process";
import { extensionDir, HOST_NAME, runAutofillTest } from "./scenarios.mjs";

const EXTENSION_ID = JSON.parse(fs.readFileSync(path.join(extensionDir, "manifest.json"), "utf8"))
    .browser_specific_settings.gecko.id;
// Firefox gives each add-on a random address per profile unless told one.
const EXTENSION_UUID = randomUUID();
const OPTIONS_URL = `moz-extension://${EXTENSION_UUID}/options.html`;
const HOSTS = ["badexample.com", "ads.badexample.com", "quickconnect.to", "other-nas.quickconnect.to"];
let launchFirefox;

function hostManifest(dirs) {
    return path.join(dirs.home, ".mozilla", "native-messaging-hosts", `${HOST_NAME}.json`);
}

function registerHost({ helper, dirs, env }) {
    // --install registers with the browsers whose directory exists.
    fs.mkdirSync(path.join(dirs.home, ".mozilla"), { mode: 0o700 });
    const run = spawnSync(helper, ["--install"], { env: { ...env, QT_QPA_PLATFORM: "offscreen" }, encoding: "utf8" });
    if (run.status !== 0 || !fs.existsSync(hostManifest(dirs))) {
        throw new Error(`ZorvikMacAutoFill --install exited ${run.status}: ${run.stderr.trim()}`);
    }
}

async function launch({ env, dirs, consoleLines }) {
    const firefox = await launchFirefox({
        executable: driver.executable,
        env,
        profile: path.join(dirs.profile, `firefox-${Date.now()}`),
        args: ["--remote-allow-system-access"],
        prefs: {
            "network.dns.localDomains": HOSTS.join(","),
            "network.proxy.type": 0,
            "dom.security.https_first": false,
            "extensions.webextensions.uuids": JSON.stringify({ [EXTENSION_ID]: EXTENSION_UUID }),
            // The extension's console goes to Firefox's standard output, where this test reads it.
            "devtools.console.stdout.content": true,
            "devtools.console.stdout.chrome": true,
        },
        onOutput(line) {
            if (/^console\./.test(line)) {
                consoleLines.push(`[firefox] ${line}`);
            }
        },
    });
    try {
        const id = await firefox.installExtension(extensionDir);
        if (id !== EXTENSION_ID) {
            throw new Error(`the extension installed with the ID ${id}, not ${EXTENSION_ID}`);
        }
        const page = (await firefox.pages())[0] ?? (await firefox.newPage());
        await page.setViewport({ width: 800, height: 600 });
        // What the page and its frames write to their console.
        firefox.on("log.entryAdded", (entry) => {
            if (entry.type === "console") {
                consoleLines.push(`[page] ${entry.method}: ${entry.text}`);
            }
        });
        await firefox.subscribe(["log.entryAdded"], [page.id]);

        // Runs `expression` in the browser window, which can open the extension's pages.
        async function inWindow(expression) {
            const windows = (await firefox.send("browsingContext.getTree", { "moz:scope": "chrome" })).contexts;
            const window = windows.find((candidate) => candidate.url.startsWith("chrome://browser/")) ?? windows[0];
            await firefox.send("script.evaluate", {
                expression,
                target: { context: window.context },
                awaitPromise: false,
                "moz:scope": "chrome",
            });
        }
        // A click in a page moves its focus only once the tab's browser holds the window's focus,
        // as it does after a user brings the window forward.
        const focusSelectedTab = () => inWindow("window.focus(); gBrowser.selectedBrowser.focus();");
        await focusSelectedTab();
        let extensionPage = null;
        async function openExtensionPage() {
            const known = new Set((await firefox.pages()).map((tab) => tab.id));
            await inWindow(`gBrowser.selectedTab = gBrowser.addTab(${JSON.stringify(OPTIONS_URL)},
                { triggeringPrincipal: Services.scriptSecurityManager.getSystemPrincipal() })`);
            for (let i = 0; i < 100; i++) {
                const opened = (await firefox.pages()).find((candidate) => !known.has(candidate.id));
                if (opened) {
                    await opened.waitForFunction(() => document.getElementById("configure") !== null, null, { timeout: 5000 });
                    return opened;
                }
                await new Promise((resolve) => setTimeout(resolve, 50));
            }
            throw new Error("the extension's options page did not open");
        }

        return {
            page,
            // What a click on the toolbar button runs, with the tab as the click shows it.
            async clickToolbarButton(shown, address) {
                extensionPage ??= await openExtensionPage();
                await shown.bringToFront();
                await focusSelectedTab();
                await extensionPage.evaluate(async (address) => {
                    const background = await browser.runtime.getBackgroundPage();
                    const tabs = await browser.tabs.query({});
                    const tab = tabs.find((candidate) => candidate.url === address);
                    await background.fillFromToolbar({ ...tab, url: address });
                }, address);
            },
            async openOptionsPage() {
                const opened = await openExtensionPage();
                await focusSelectedTab();
                return opened;
            },
            close: () => firefox.close(),
        };
    } catch (error) {
        await firefox.close();
        throw error;
    }
}

// The text inside the suggestion's closed shadow root: WebDriver BiDi serializes closed roots
// too. The stylesheet is left out.
async function suggestionText(page, tag) {
    const answer = await page.browser.send("script.callFunction", {
        functionDeclaration: "(tag) => document.querySelector(tag)",
        arguments: [{ type: "string", value: tag }],
        target: { context: page.id },
        awaitPromise: false,
        serializationOptions: { maxDomDepth: null, includeShadowTree: "all" },
    });
    const host = answer.result;
    if (host.type !== "node") {
        return null;
    }
    const children = (node) => [...(node.value?.children ?? []), ...(node.value?.shadowRoot ? [node.value.shadowRoot] : [])];
    const text = (node) => {
        if (node.value?.nodeType === 3) {
            return node.value.nodeValue;
        }
        return node.value?.localName === "style" ? "" : children(node).map(text).join(" ");
    };
    return { mode: host.value.shadowRoot?.value?.mode, text: text(host).replace(/\s+/g, " ").trim() };
}

const driver = {
    name: "Firefox",
    executable: "/usr/bin/firefox-esr",
    skipWithoutBrowser: true,
    async load() {
        try {
            ({ launchFirefox } = await import("./bidi.mjs"));
            return true;
        } catch (error) {
            // bidi.mjs needs the ws package; any other error is a bug to show.
            if (error.code === "ERR_MODULE_NOT_FOUND") {
                return false;
            }
            throw error;
        }
    },
    registerHost,
    hostManifest,
    launch,
    suggestionText,
};

await runAutofillTest(driver);
