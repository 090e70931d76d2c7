// SPDX-License-Identifier: GPL-3.0-or-later
// The AutoFill journey, the same in every browser: the scenarios, the temporary world they run
// in (HOME, the XDG directories, the shared container the helper reads the code from), the test
// pages' server and the helper's panel. A driver per browser (autofill.test.mjs for Chromium,
// autofill-firefox.test.mjs for Firefox) launches the browser with the extension, registers the
// helper with it and reads what the page cannot: the suggestion's closed shadow root, the
// extension's console.
//
// A driver's page offers the calls of a playwright page that the scenarios use: goto, click,
// evaluate, waitForFunction, waitForSelector, inputValue, textContent, screenshot, mouse,
// keyboard, frames and close.
import { spawn, spawnSync } from "node:child_process";
import { randomUUID } from "node:crypto";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const SKIP = 77;
const here = path.dirname(fileURLToPath(import.meta.url));
export const extensionDir = path.resolve(here, "../../../ZorvikMacAutoFill/browser");
const pagesDir = path.join(here, "pages");
export const HOST_NAME = "net.brontal.zorvik.autofill";
const CONTAINER = path.join("app", "K8QW41TR7N.net.brontal.zorvik.mac");
const RECORD_ID = "5E0A3C1B-7D42-4F6A-9B1E-2C8D7F3A9E41";
const OVERALL_TIMEOUT_MS = 100000;
// Long enough for the content script to have asked the helper and shown a card, were it to.
const NOTHING_SHOWN_WAIT_MS = 1500;
const XDOTOOL = "/usr/bin/xdotool";

// Set by runAutofillTest().
let driver;
let helper;
let zorvikLatest;
let screenshotPath;
let waitingScreenshotPath;
// What the page and the extension wrote to the console, as the driver hears it.
const consoleLines = [];

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// --- The temporary world --------------------------------------------------------------------

let base;
let dirs;
let container;
let worldEnv;
let filledMarker;
let identitiesFile;
// The helper's record of connected browsers, which outlives the container's logout.
let connectedRecord;

function setUpWorld() {
    base = fs.mkdtempSync(path.join(process.env.ZORVIK_SESSION_DIR ?? os.tmpdir(), "autofill-e2e."));
    dirs = {};
    for (const name of ["home", "config", "data", "cache", "state", "runtime", "tmp", "profile"]) {
        dirs[name] = path.join(base, name);
        fs.mkdirSync(dirs[name], { mode: 0o700 });
    }
    container = path.join(dirs.runtime, CONTAINER);
    fs.mkdirSync(container, { recursive: true, mode: 0o700 });
    // The browsers and their drivers leave scratch directories in TMPDIR: keep them in ours.
    process.env.TMPDIR = dirs.tmp;
    worldEnv = {
        ...process.env,
        HOME: dirs.home,
        XDG_CONFIG_HOME: dirs.config,
        XDG_DATA_HOME: dirs.data,
        XDG_CACHE_HOME: dirs.cache,
        XDG_STATE_HOME: dirs.state,
        XDG_RUNTIME_DIR: dirs.runtime,
        TMPDIR: dirs.tmp,
    };
    filledMarker = path.join(container, "latest-code.filled");
    identitiesFile = path.join(container, "credential-identities.json");
    connectedRecord = path.join(dirs.data, "net.brontal.zorvik", "connected-browsers.json");
}

function writeIdentities() {
    const identities = {
        identities: [
            {
                serviceIdentifier: { identifier: "quickconnect.to", type: "domain" },
                label: "Example",
                recordIdentifier: RECORD_ID,
            },
        ],
    };
    fs.writeFileSync(identitiesFile, JSON.stringify(identities), { mode: 0o600 });
}

function isoSeconds(date) {
    return date.toISOString().replace(/\.\d+Z$/, "Z");
}

function runLatest(args, input) {
    const result = spawnSync(zorvikLatest, args, { env: worldEnv, input, encoding: "utf8" });
    if (result.status !== 0) {
        throw new Error(`zorvik-latest ${args.join(" ")} exited ${result.status}: ${result.stderr.trim()}`);
    }
}

// Publishes `code` as the latest code, received now and valid for five minutes.
function saveCode(code, { account = "Example", service = "synology" } = {}) {
    const now = new Date();
    const opened = {
        accountID: randomUUID().toUpperCase(),
        accountName: account,
        serviceID: service,
        code,
        issuedAt: isoSeconds(now),
        expiresAt: isoSeconds(new Date(now.getTime() + 5 * 60 * 1000)),
        fromDevice: "Test phone",
    };
    runLatest(["save"], JSON.stringify(opened));
}

function clearCode() {
    runLatest(["clear"]);
}

// --- The pages ------------------------------------------------------------------------------

const TYPES = { ".html": "text/html; charset=utf-8", ".css": "text/css", ".js": "text/javascript" };

function startServer() {
    const server = http.createServer((request, response) => {
        const name = path.basename(new URL(request.url, "http://page/").pathname);
        if (name === "favicon.ico") {
            response.writeHead(204).end();
            return;
        }
        const file = path.join(pagesDir, name);
        if (!fs.existsSync(file) || !TYPES[path.extname(name)]) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, { "content-type": TYPES[path.extname(name)], "cache-control": "no-store" });
        response.end(fs.readFileSync(file));
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// --- Looking at the suggestion ------------------------------------------------------------------

const SUGGESTION = "zorvik-autofill-suggestion";

// The suggestion's box when it is shown, else null. Its content is in a closed shadow root, so
// the page (and this function, which runs in the page) sees only the host element.
async function suggestionBox(page) {
    return page.evaluate((tag) => {
        const host = document.querySelector(tag);
        if (!host || getComputedStyle(host).display === "none") {
            return null;
        }
        const box = host.getBoundingClientRect();
        return box.width > 0 && box.height > 0
            ? { x: box.x, y: box.y, width: box.width, height: box.height, hidden: host.shadowRoot === null }
            : null;
    }, SUGGESTION);
}

async function waitForSuggestion(page, timeout = 5000) {
    const deadline = Date.now() + timeout;
    for (;;) {
        const box = await suggestionBox(page);
        if (box) {
            return box;
        }
        if (Date.now() > deadline) {
            throw new Error("no suggestion appeared");
        }
        await sleep(50);
    }
}

async function waitForNoSuggestion(page, timeout = 5000) {
    const deadline = Date.now() + timeout;
    while (await suggestionBox(page)) {
        if (Date.now() > deadline) {
            throw new Error("the suggestion did not go away");
        }
        await sleep(50);
    }
}

async function fieldBox(page, selector) {
    return page.evaluate((selector) => {
        const { x, y, width, height } = document.querySelector(selector).getBoundingClientRect();
        return { x, y, width, height };
    }, selector);
}

// --- Checks -----------------------------------------------------------------------------------

class Failure extends Error {}

function check(condition, message) {
    if (!condition) {
        throw new Failure(message);
    }
}

function eventsOf(seen, key) {
    return seen.filter((event) => event.key === key).map((event) => event.type);
}

async function expectSuggestionFor(page, fieldSelector, label = /Example/) {
    const box = await waitForSuggestion(page);
    check(box.hidden, "the page can reach into the suggestion (its shadow root is not closed)");
    const field = await fieldBox(page, fieldSelector);
    const fieldBottom = field.y + field.height;
    check(box.y >= fieldBottom - 1, `the suggestion (top ${box.y}) is not below the field (bottom ${fieldBottom})`);
    check(Math.abs(box.x - field.x) < 2, `the suggestion (left ${box.x}) is not in line with the field (${field.x})`);
    const content = await driver.suggestionText(page, SUGGESTION);
    check(content?.mode === "closed", `the suggestion's shadow root is ${content?.mode}`);
    check(/From Zorvik/.test(content.text) && label.test(content.text), `the suggestion reads "${content.text}"`);
    return box;
}

async function clickBox(page, box) {
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
}

// --- Scenarios --------------------------------------------------------------------------------

// Each scenario runs in a browser whose helpers have a display (and so can show their panel) or
// not. The panel is driven with the keys it answers to: Return for its default action (Fill,
// Done), Escape for Cancel. Each finds the identities of writeIdentities(), unless it starts
// from a helper that no browser has connected to yet.
const scenarios = [];
const noDisplay = { display: false };
const withDisplay = { display: true };
const neverConnected = { display: false, neverConnected: true };
function scenario(name, options, run) {
    scenarios.push({ name, ...options, run });
}

let port;
const url = (host, page) => `http://${host}:${port}/${page}`;

function runCommand(command, args, timeoutMs) {
    return new Promise((resolve) => {
        const child = spawn(command, args, { env: { ...worldEnv, DISPLAY: process.env.DISPLAY } });
        let out = "";
        child.stdout.on("data", (chunk) => (out += chunk));
        const timer = setTimeout(() => child.kill(), timeoutMs);
        child.on("close", (status) => {
            clearTimeout(timer);
            resolve({ status, out });
        });
    });
}

// The helpers this test's browser started: their environment names this test's runtime
// directory. Other tests may run the same binary on the same display at the same time.
function ourHelpers() {
    const mark = Buffer.from(`\0XDG_RUNTIME_DIR=${dirs.runtime}\0`);
    const pids = [];
    for (const pid of fs.readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
        try {
            if (fs.readlinkSync(`/proc/${pid}/exe`) !== helper) {
                continue;
            }
            const environment = Buffer.concat([Buffer.from("\0"), fs.readFileSync(`/proc/${pid}/environ`)]);
            if (environment.includes(mark)) {
                pids.push(pid);
            }
        } catch {
            // gone, or not ours to read
        }
    }
    return pids;
}

// The window of the panel one of our helpers shows, once it is there (within `timeoutMs`), or
// null.
async function panelWindow(timeoutMs) {
    const deadline = Date.now() + timeoutMs;
    do {
        for (const pid of ourHelpers()) {
            const search = ["search", "--all", "--onlyvisible", "--pid", pid, "--name", "^Zorvik$"];
            const { status, out } = await runCommand(XDOTOOL, search, 2000);
            if (status === 0 && out.trim()) {
                return out.trim().split("\n")[0];
            }
        }
        await sleep(100);
    } while (Date.now() < deadline);
    return null;
}

async function pressInPanel(panel, key) {
    await runCommand(XDOTOOL, ["windowfocus", "--sync", panel, "key", key], 5000);
}

// Presses Return in the panel until `done()` holds: the panel fills once it shows the code,
// which it reads again every second.
async function fillFromPanel(done, timeoutMs = 10000) {
    const panel = await panelWindow(5000);
    check(panel !== null, "the helper showed no panel");
    const deadline = Date.now() + timeoutMs;
    while (!(await done())) {
        check(Date.now() < deadline, "pressing Return in the panel filled nothing");
        await pressInPanel(panel, "Return");
        await sleep(400);
    }
}

// The phone first, the browser second: the code arrived while no browser had connected, so
// nobody had registered its identities; the extension's first request must find them.
scenario("a code that came before the browser's first request is offered on its site", neverConnected, async ({ page }) => {
    check(!fs.existsSync(identitiesFile) && !fs.existsSync(connectedRecord), "a browser has connected already");
    // A site of the service table that the browser does not force onto HTTPS.
    saveCode("802731", { account: "My NAS", service: "synology" });
    await page.goto(url("quickconnect.to", "otp.html"));
    await page.click("#code");
    await expectSuggestionFor(page, "#code", /My NAS · from Test phone/);
    check((fs.statSync(connectedRecord).mode & 0o777) === 0o600, "connected-browsers.json is not owner-only");
});

scenario("a one-time-code field is offered the code below it, and a click fills it", noDisplay, async ({ page }) => {
    saveCode("482913");
    await page.goto(url("quickconnect.to", "otp.html"));
    await page.click("#code");
    const box = await expectSuggestionFor(page, "#code");
    if (screenshotPath) {
        await page.screenshot({ path: screenshotPath });
    }
    check(await page.evaluate(() => document.activeElement?.id === "code"), "the field lost the focus to the suggestion");
    await clickBox(page, box);
    await page.waitForFunction(() => document.getElementById("code").value !== "", null, { timeout: 5000 });
    check((await page.inputValue("#code")) === "482913", `the field holds "${await page.inputValue("#code")}"`);
    const { seen, model } = await page.evaluate(() => ({ seen: window.seen, model: window.model }));
    check(eventsOf(seen, "code").join(",") === "input,change", `the page saw ${JSON.stringify(seen)}`);
    check(model.code === "482913", "the page's model did not follow the filled value");
    await waitForNoSuggestion(page);
    check(fs.existsSync(filledMarker), "latest-code.filled was not written");
});

scenario("six one-character boxes get one digit each (Arrow Down, then Enter)", noDisplay, async ({ page }) => {
    saveCode("705162");
    await page.goto(url("quickconnect.to", "split.html"));
    await page.click("input[name=d1]");
    await expectSuggestionFor(page, "input[name=d1]");
    await page.keyboard.press("ArrowDown");
    await page.keyboard.press("Enter");
    await page.waitForFunction(() => document.querySelector("input[name=d6]").value !== "", null, { timeout: 5000 });
    const values = await page.evaluate(() => [...document.querySelectorAll(".boxes input")].map((box) => box.value));
    check(values.join("") === "705162" && values.every((v) => v.length === 1), `the boxes hold ${JSON.stringify(values)}`);
    const { seen, model } = await page.evaluate(() => ({ seen: window.seen, model: window.model }));
    for (let i = 1; i <= 6; i++) {
        const events = eventsOf(seen, `d${i}`);
        check(events.join(",") === "input,change", `box ${i} saw ${JSON.stringify(events)}`);
        check(model[`d${i}`] === "705162"[i - 1], `the model of box ${i} holds ${model[`d${i}`]}`);
    }
    await waitForNoSuggestion(page);
    check(fs.existsSync(filledMarker), "latest-code.filled was not written");
});

// A site with no identity, and another tenant's page of a shared domain (quickconnect.to hands
// its subdomains to different customers): neither is offered the code.
for (const [host, code] of [["badexample.com", "118822"], ["other-nas.quickconnect.to", "226410"]]) {
    scenario(`${host} gets no suggestion`, noDisplay, async ({ page }) => {
        saveCode(code);
        await page.goto(url(host, "otp.html"));
        await page.click("#code");
        await sleep(NOTHING_SHOWN_WAIT_MS);
        check((await suggestionBox(page)) === null, `a suggestion appeared on ${host}`);
        check(!fs.existsSync(filledMarker), "latest-code.filled was written");
    });
}

scenario("a field found by its name, added after load, is offered the code (Enter fills it)", noDisplay, async ({ page }) => {
    saveCode("390417");
    await page.goto(url("quickconnect.to", "heuristic.html"));
    await page.click("#sent"); // read-only: never offered
    await page.waitForSelector("#otp");
    await sleep(NOTHING_SHOWN_WAIT_MS);
    check((await suggestionBox(page)) === null, "a read-only field was offered the code");
    await page.click("#otp");
    await expectSuggestionFor(page, "#otp");
    await page.keyboard.press("Enter");
    await page.waitForFunction(() => document.getElementById("otp").value !== "", null, { timeout: 5000 });
    check((await page.inputValue("#otp")) === "390417", `the field holds "${await page.inputValue("#otp")}"`);
    check((await page.evaluate(() => window.model.otp)) === "390417", "the page's model did not follow the filled value");
    const others = await page.evaluate(() => [...document.querySelectorAll("input:not(#otp)")].map((i) => i.value));
    check(others.join("|") === "||+1 555 0100", `other fields changed: ${JSON.stringify(others)}`);
});

scenario("without a code and without a display, choosing the suggestion fills nothing", noDisplay, async ({ page }) => {
    clearCode();
    await page.goto(url("quickconnect.to", "otp.html"));
    await page.click("#code");
    const box = await expectSuggestionFor(page, "#code");
    await clickBox(page, box);
    await waitForNoSuggestion(page, 10000);
    await sleep(300);
    check((await page.inputValue("#code")) === "", `the field holds "${await page.inputValue("#code")}"`);
    check((await page.evaluate(() => window.seen.length)) === 0, "the page saw input events");
    check(!fs.existsSync(filledMarker), "latest-code.filled was written");
});

scenario("without the helper registered, nothing is offered and the extension says why", noDisplay, async ({ page }) => {
    saveCode("173205");
    const manifest = driver.hostManifest(dirs);
    const aside = `${manifest}.aside`;
    fs.renameSync(manifest, aside);
    try {
        const before = consoleLines.length;
        await page.goto(url("quickconnect.to", "otp.html"));
        await page.click("#code");
        await sleep(NOTHING_SHOWN_WAIT_MS);
        check((await suggestionBox(page)) === null, "a suggestion appeared without a helper");
        const said = consoleLines.slice(before).some((line) => /could not reach the helper.*--install/.test(line));
        check(said, "the extension's console does not say that the helper is missing");
    } finally {
        fs.renameSync(aside, manifest);
    }
});

scenario("with a display, the panel waits for the code, and Fill fills it", withDisplay, async ({ page }) => {
    clearCode();
    await page.goto(url("quickconnect.to", "otp.html"));
    await page.click("#code");
    const box = await expectSuggestionFor(page, "#code");
    await clickBox(page, box);
    check((await panelWindow(5000)) !== null, "the helper showed no panel");
    const content = await driver.suggestionText(page, SUGGESTION);
    check(/Waiting for the code in Zorvik/.test(content.text), `while the panel waits, the suggestion reads "${content.text}"`);
    if (waitingScreenshotPath) {
        await page.screenshot({ path: waitingScreenshotPath });
    }
    saveCode("264810");
    await fillFromPanel(async () => (await page.inputValue("#code")) !== "");
    check((await page.inputValue("#code")) === "264810", `the field holds "${await page.inputValue("#code")}"`);
    check((await page.evaluate(() => window.model.code)) === "264810", "the page's model did not follow the filled value");
    await waitForNoSuggestion(page);
    check(fs.existsSync(filledMarker), "latest-code.filled was not written");
});

scenario("Cancel in the panel fills nothing and takes the suggestion away", withDisplay, async ({ page }) => {
    clearCode();
    await page.goto(url("quickconnect.to", "otp.html"));
    await page.click("#code");
    await clickBox(page, await expectSuggestionFor(page, "#code"));
    const panel = await panelWindow(5000);
    check(panel !== null, "the helper showed no panel");
    await pressInPanel(panel, "Escape");
    await waitForNoSuggestion(page, 5000);
    check((await page.inputValue("#code")) === "", `the field holds "${await page.inputValue("#code")}"`);
    check((await page.evaluate(() => window.seen.length)) === 0, "the page saw input events");
});

scenario("the toolbar button fills the code into the page's field", withDisplay, async ({ page, session }) => {
    saveCode("551204");
    const address = url("quickconnect.to", "otp.html");
    await page.goto(address);
    // It waits for the panel, so it is not awaited.
    const clicked = session.clickToolbarButton(page, address);
    await fillFromPanel(async () => (await page.inputValue("#code")) !== "");
    await clicked;
    check((await page.inputValue("#code")) === "551204", `the field holds "${await page.inputValue("#code")}"`);
    check((await page.evaluate(() => window.model.code)) === "551204", "the page's model did not follow the filled value");
    check(fs.existsSync(filledMarker), "latest-code.filled was not written");
});

scenario("the toolbar button never fills another site's frame in the page", withDisplay, async ({ page, session }) => {
    saveCode("640117");
    const frame = url("ads.badexample.com", "other-site-field.html");
    const address = url("quickconnect.to", `embedding.html?frame=${encodeURIComponent(frame)}`);
    await page.goto(address);
    const other = await (async () => {
        for (let i = 0; i < 100; i++) {
            const found = page.frames().find((f) => f.url().startsWith("http://ads.badexample.com"));
            if (found && (await found.$("#promo"))) {
                return found;
            }
            await sleep(50);
        }
        return null;
    })();
    check(other !== null, "the other site's frame did not load");
    // Focus in the other site's field, as if the user had clicked into it.
    await other.focus("#promo");
    const clicked = session.clickToolbarButton(page, address);
    await fillFromPanel(async () => (await page.inputValue("#code")) !== "");
    await clicked;
    check((await page.inputValue("#code")) === "640117", `the page's field holds "${await page.inputValue("#code")}"`);
    check((await other.inputValue("#promo")) === "", "the other site's frame got the code");
});

scenario("the options page's button runs the helper's configuration", withDisplay, async ({ session }) => {
    const page = await session.openOptionsPage();
    try {
        await page.click("#configure");
        const panel = await panelWindow(5000);
        check(panel !== null, "the helper showed no panel");
        await pressInPanel(panel, "Return");
        await page.waitForFunction(() => !/Asking/.test(document.getElementById("status").textContent), null, {
            timeout: 10000,
        });
        const status = await page.textContent("#status");
        check(status === "Zorvik AutoFill is ready.", `the options page says "${status}"`);
    } finally {
        await page.close();
    }
});

// --- Running ----------------------------------------------------------------------------------

const codes = ["802731", "482913", "705162", "118822", "390417", "173205", "264810", "551204"];

// Runs every scenario in the browser of `theDriver` and exits: 0 when all pass, 77 outside the
// desktop session or without the browser (when the driver says so), 1 otherwise. `theDriver`:
//   name, executable          the browser and where it must be
//   skipWithoutBrowser        exit 77 rather than fail when the browser is not installed
//   load()                    imports the driver's npm package; false when it is missing
//   registerHost(world)       registers the helper with the browser (world: helper, dirs, env)
//   hostManifest(dirs)        where that registration lives
//   launch(world)             starts the browser with the extension, adding what its pages and
//                             the extension log to world.consoleLines; resolves with a session:
//                             page, clickToolbarButton(page, address),
//                             openOptionsPage(), close()
//   suggestionText(page, tag) the text in the suggestion's closed shadow root, and its mode
export async function runAutofillTest(theDriver) {
    driver = theDriver;
    const argv = process.argv;
    const usage = `usage: ${path.basename(argv[1])} HELPER ZORVIK_LATEST [SCREENSHOT.png]`;
    if (process.env.ZORVIK_DESKTOP_SESSION !== "1") {
        console.log("skipped: not inside scripts/desktop-session");
        process.exit(SKIP);
    }
    if (argv.length < 4 || argv.length > 5) {
        console.error(usage);
        process.exit(2);
    }
    helper = fs.realpathSync(path.resolve(argv[2]));
    zorvikLatest = path.resolve(argv[3]);
    screenshotPath = argv[4] ? path.resolve(argv[4]) : null;
    waitingScreenshotPath = screenshotPath?.replace(/(\.png)?$/, "-waiting.png") ?? null;

    if (driver.skipWithoutBrowser && !fs.existsSync(driver.executable)) {
        console.log(`skipped: ${driver.name} is not at ${driver.executable}`);
        process.exit(SKIP);
    }
    if (!(await driver.load())) {
        console.error(`FAIL: the ${driver.name} driver is not installed in tests/e2e/autofill: run scripts/bootstrap`);
        process.exit(1);
    }
    const needed = [[driver.name, driver.executable], ["xdotool", XDOTOOL], ["the helper", helper], ["zorvik-latest", zorvikLatest]];
    for (const [what, file] of needed) {
        try {
            fs.accessSync(file, fs.constants.X_OK);
        } catch {
            console.error(`FAIL: ${what} is not at ${file}`);
            process.exit(1);
        }
    }

    setUpWorld();
    let session = null;
    let server;
    let passed = 0;
    let failed = 0;
    const started = Date.now();

    let cleanedUp = false;
    async function cleanUp() {
        if (cleanedUp) {
            return;
        }
        cleanedUp = true;
        await session?.close().catch(() => {});
        server?.close();
        fs.rmSync(base, { recursive: true, force: true });
    }
    const watchdog = setTimeout(() => {
        console.error(`FAIL: still running after ${OVERALL_TIMEOUT_MS / 1000} s`);
        cleanUp().finally(() => process.exit(1));
    }, OVERALL_TIMEOUT_MS);

    async function runScenarios(display) {
        const env = { ...worldEnv };
        delete env.WAYLAND_DISPLAY;
        if (display) {
            env.QT_QPA_PLATFORM = "xcb"; // the panel is a real window on the session's X display
        } else {
            delete env.DISPLAY;
        }
        session = await driver.launch({ env, dirs, consoleLines });
        const page = session.page;
        for (const { name, run, neverConnected } of scenarios.filter((s) => s.display === display)) {
            const t0 = Date.now();
            try {
                fs.rmSync(filledMarker, { force: true });
                if (!neverConnected) {
                    writeIdentities();
                }
                await run({ page, session });
                passed += 1;
                console.log(`ok: ${name} (${Date.now() - t0} ms)`);
            } catch (error) {
                failed += 1;
                console.log(`FAIL: ${name}: ${error instanceof Failure ? error.message : error.stack}`);
            }
        }
        await session.close();
        session = null;
    }

    try {
        await driver.registerHost({ helper, dirs, env: worldEnv });
        server = await startServer();
        port = server.address().port;
        await runScenarios(false);
        await runScenarios(true);
        const leaks = consoleLines.filter((line) => codes.some((code) => line.includes(code)));
        if (leaks.length > 0) {
            failed += 1;
            console.log(`FAIL: a code appeared in the browser's console: ${leaks.length} line(s)`);
        }
    } catch (error) {
        failed += 1;
        console.log(`FAIL: ${error instanceof Failure ? error.message : error.stack}`);
    } finally {
        clearTimeout(watchdog);
        await cleanUp();
    }

    if (failed > 0 && consoleLines.length > 0) {
        console.log("--- browser console");
        consoleLines.forEach((line) => console.log(line));
    }
    console.log(`took ${((Date.now() - started) / 1000).toFixed(1)} s`);
    console.log(`${passed} passed, ${failed} failed`);
    process.exit(failed > 0 ? 1 : 0);
}
