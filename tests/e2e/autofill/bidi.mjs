// SPDX-License-Identifier: GPL-3.0-or-later
// A small WebDriver BiDi client for the Firefox end-to-end test: it starts Firefox with a fresh
// profile, speaks BiDi over the WebSocket that --remote-debugging-port opens, and gives pages and
// frames the calls of a playwright page that the scenarios make (see scenarios.mjs).
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import WebSocket from "ws";

const LAUNCH_TIMEOUT_MS = 30000;
// How long waitForSelector() and waitForFunction() wait unless told otherwise.
const WAIT_TIMEOUT_MS = 30000;
// WebDriver's code points for the keys that the scenarios press by name.
const KEYS = { Enter: "\uE007", ArrowDown: "\uE015" };

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The browsers started and not yet closed: however this test ends, none outlives it.
const running = new Set();
process.on("exit", () => running.forEach((kill) => kill()));
for (const signal of ["SIGINT", "SIGTERM", "SIGHUP"]) {
    process.on(signal, () => process.exit(128 + os.constants.signals[signal]));
}

// --- Values between Node and the page ---------------------------------------------------------

function serialize(value) {
    if (value === undefined || value === null) {
        return { type: String(value) };
    }
    if (typeof value === "number") {
        // NaN, -0 and the infinities travel as strings.
        const special = Object.is(value, -0) ? "-0" : Number.isFinite(value) ? null : String(value);
        return { type: "number", value: special ?? value };
    }
    if (typeof value === "string" || typeof value === "boolean") {
        return { type: typeof value, value };
    }
    if (Array.isArray(value)) {
        return { type: "array", value: value.map(serialize) };
    }
    return { type: "object", value: Object.entries(value).map(([key, item]) => [key, serialize(item)]) };
}

// Plain data comes back as itself; anything else (a node, a window) as BiDi's remote value.
function deserialize(remote) {
    switch (remote.type) {
        case "undefined":
            return undefined;
        case "null":
            return null;
        case "number":
            return Number(remote.value);
        case "string":
        case "boolean":
            return remote.value;
        case "array":
            return remote.value.map(deserialize);
        case "object":
            return Object.fromEntries(remote.value.map(([key, item]) => [key, deserialize(item)]));
        default:
            return remote;
    }
}

// --- The connection ---------------------------------------------------------------------------

// Commands and their answers, matched by id, and the events in between.
class Connection {
    #socket;
    #nextId = 1;
    #pending = new Map();
    #listeners = new Map();

    static open(address) {
        return new Promise((resolve, reject) => {
            const socket = new WebSocket(address);
            socket.once("open", () => resolve(new Connection(socket)));
            socket.once("error", reject);
        });
    }

    constructor(socket) {
        this.#socket = socket;
        // An error closes the socket, which fails the commands waiting for answers.
        socket.on("error", () => {});
        socket.on("message", (data) => this.#receive(JSON.parse(data)));
        socket.on("close", () => {
            for (const { method, reject } of this.#pending.values()) {
                reject(new Error(`${method}: the connection to Firefox closed`));
            }
            this.#pending.clear();
        });
    }

    send(method, params = {}) {
        return new Promise((resolve, reject) => {
            if (this.#socket.readyState !== WebSocket.OPEN) {
                reject(new Error(`${method}: the connection to Firefox is closed`));
                return;
            }
            const id = this.#nextId++;
            this.#pending.set(id, { method, resolve, reject });
            this.#socket.send(JSON.stringify({ id, method, params }));
        });
    }

    on(event, listener) {
        this.#listeners.set(event, [...(this.#listeners.get(event) ?? []), listener]);
    }

    close() {
        this.#socket.terminate();
    }

    #receive(message) {
        const call = this.#pending.get(message.id);
        if (call) {
            this.#pending.delete(message.id);
            if (message.type === "error") {
                call.reject(new Error(`${call.method}: ${message.error}: ${message.message}`));
            } else {
                call.resolve(message.result);
            }
        } else if (message.type === "event") {
            this.#listeners.get(message.method)?.forEach((listener) => listener(message.params));
        }
    }
}

// --- Pages and frames -------------------------------------------------------------------------

function perform(frame, source) {
    return frame.browser.send("input.performActions", { context: frame.id, actions: [source] });
}

// A click of the left mouse button where `to` (a pointerMove's x, y and origin) points.
function mouseClick(to) {
    return {
        type: "pointer",
        id: "mouse",
        parameters: { pointerType: "mouse" },
        actions: [{ type: "pointerMove", ...to }, { type: "pointerDown", button: 0 }, { type: "pointerUp", button: 0 }],
    };
}

// A browsing context: a tab's document or a frame's.
class Frame {
    constructor(browser, id) {
        this.browser = browser;
        this.id = id;
    }

    // Known from the browser's events, so that it needs no round trip.
    url() {
        return this.browser.contexts.get(this.id)?.url ?? "";
    }

    // Runs `fn(arg)` in the page and resolves with what it returns (awaited).
    async evaluate(fn, arg) {
        const answer = await this.browser.send("script.callFunction", {
            functionDeclaration: String(fn),
            arguments: [serialize(arg)],
            target: { context: this.id },
            awaitPromise: true,
        });
        if (answer.type === "exception") {
            throw new Error(`in the page: ${answer.exceptionDetails.text}`);
        }
        return deserialize(answer.result);
    }

    // Runs `fn(element)` in the page on the element that `selector` matches.
    #onElement(selector, fn) {
        return this.evaluate(
            `(selector) => {
                const element = document.querySelector(selector);
                if (!element) {
                    throw new Error("no element matches " + selector);
                }
                return (${fn})(element);
            }`,
            selector,
        );
    }

    async $(selector) {
        const element = await this.evaluate((selector) => document.querySelector(selector), selector);
        return element?.type === "node" ? element : null;
    }

    focus(selector) {
        return this.#onElement(selector, (element) => element.focus());
    }

    inputValue(selector) {
        return this.#onElement(selector, (element) => element.value);
    }

    textContent(selector) {
        return this.#onElement(selector, (element) => element.textContent);
    }

    // A real click in the middle of the element, as a user makes it: the page sees the mouse
    // events, the focus moves.
    async click(selector) {
        const element = await this.#onElement(selector, (element) => {
            element.scrollIntoView({ block: "nearest", inline: "nearest" });
            return element;
        });
        await perform(this, mouseClick({ x: 0, y: 0, origin: { type: "element", element: { sharedId: element.sharedId } } }));
    }

    async waitForFunction(fn, arg, { timeout = WAIT_TIMEOUT_MS } = {}) {
        const deadline = Date.now() + timeout;
        for (;;) {
            let failure = "";
            try {
                const value = await this.evaluate(fn, arg);
                if (value) {
                    return value;
                }
            } catch (error) {
                // A page between two documents cannot run scripts for a moment: try again, and
                // tell the error if it lasts.
                failure = ` (${error.message})`;
            }
            if (Date.now() > deadline) {
                throw new Error(`still waiting after ${timeout} ms for ${String(fn).replace(/\s+/g, " ")}${failure}`);
            }
            await sleep(50);
        }
    }

    waitForSelector(selector, options) {
        return this.waitForFunction((selector) => document.querySelector(selector) !== null, selector, options);
    }
}

// A tab.
class Page extends Frame {
    mouse = {
        click: (x, y) => perform(this, mouseClick({ x: Math.round(x), y: Math.round(y) })),
    };

    keyboard = {
        press: (key) => {
            const value = KEYS[key] ?? key;
            return perform(this, {
                type: "key",
                id: "keyboard",
                actions: [{ type: "keyDown", value }, { type: "keyUp", value }],
            });
        },
    };

    // Resolves once the page and its frames have loaded.
    goto(url) {
        return this.browser.send("browsingContext.navigate", { context: this.id, url, wait: "complete" });
    }

    // This page, then every frame in it.
    frames() {
        const inPage = (id) => {
            const context = this.browser.contexts.get(id);
            return context?.parent ? context.parent === this.id || inPage(context.parent) : false;
        };
        const ids = [...this.browser.contexts.keys()].filter(inPage);
        return [this, ...ids.map((id) => new Frame(this.browser, id))];
    }

    setViewport({ width, height }) {
        return this.browser.send("browsingContext.setViewport", { context: this.id, viewport: { width, height } });
    }

    bringToFront() {
        return this.browser.send("browsingContext.activate", { context: this.id });
    }

    async screenshot({ path: file }) {
        const { data } = await this.browser.send("browsingContext.captureScreenshot", { context: this.id });
        fs.writeFileSync(file, Buffer.from(data, "base64"));
    }

    close() {
        return this.browser.send("browsingContext.close", { context: this.id });
    }
}

// --- The browser ------------------------------------------------------------------------------

class Browser {
    // Every browsing context by id: { parent, url }.
    contexts = new Map();
    #connection;
    #child;
    #kill;

    // `kill` ends the browser's processes and removes its profile.
    constructor(connection, child, kill) {
        this.#connection = connection;
        this.#child = child;
        this.#kill = kill;
    }

    // Follows the tree of browsing contexts, so that frames() and url() know it when asked.
    async trackContexts() {
        const forget = (id) => {
            this.contexts.delete(id);
            for (const [child, { parent }] of this.contexts) {
                if (parent === id) {
                    forget(child);
                }
            }
        };
        const loaded = ({ context, url }) => {
            const known = this.contexts.get(context);
            if (known) {
                known.url = url;
            }
        };
        this.on("browsingContext.contextCreated", ({ context, parent, url }) => this.contexts.set(context, { parent, url }));
        this.on("browsingContext.contextDestroyed", ({ context }) => forget(context));
        this.on("browsingContext.domContentLoaded", loaded);
        this.on("browsingContext.load", loaded);
        await this.subscribe([
            "browsingContext.contextCreated",
            "browsingContext.contextDestroyed",
            "browsingContext.domContentLoaded",
            "browsingContext.load",
        ]);
        const add = ({ context, parent, url, children }) => {
            this.contexts.set(context, { parent, url });
            children?.forEach(add);
        };
        (await this.send("browsingContext.getTree")).contexts.forEach(add);
    }

    send(method, params) {
        return this.#connection.send(method, params);
    }

    on(event, listener) {
        this.#connection.on(event, listener);
    }

    // Events from `contexts` (tabs, with their frames) or, without them, from everywhere.
    subscribe(events, contexts) {
        return this.send("session.subscribe", contexts ? { events, contexts } : { events });
    }

    // Installs the unpacked extension in `dir` until the browser quits, and resolves with its ID.
    async installExtension(dir) {
        const { extension } = await this.send("webExtension.install", { extensionData: { type: "path", path: dir } });
        return extension;
    }

    async pages() {
        const { contexts } = await this.send("browsingContext.getTree", { maxDepth: 0 });
        return contexts.map(({ context }) => new Page(this, context));
    }

    async newPage() {
        const { context } = await this.send("browsingContext.create", { type: "tab" });
        return new Page(this, context);
    }

    // Asks Firefox to quit, kills whatever is left after a few seconds, and removes the profile.
    async close() {
        const exited = new Promise((resolve) => {
            if (this.#child.exitCode !== null || this.#child.signalCode !== null) {
                resolve();
            } else {
                this.#child.once("exit", resolve);
            }
        });
        this.send("browser.close").catch(() => {});
        await Promise.race([exited, sleep(5000)]);
        this.#connection.close();
        this.#kill();
    }
}

// Starts `executable` headless with a new profile in `profile` holding `prefs`, and connects to
// it. `onOutput` receives each line that Firefox writes to its standard output.
export async function launchFirefox({ executable, env, profile, prefs, args = [], onOutput }) {
    fs.mkdirSync(profile, { recursive: true });
    // Firefox sets the preferences that automation needs itself (remote.prefs.recommended).
    const userPrefs = Object.entries(prefs).map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`);
    fs.writeFileSync(path.join(profile, "user.js"), userPrefs.join(""));

    // In a process group of its own, so that its content processes go with it.
    const child = spawn(
        executable,
        ["--headless", "--profile", profile, "--remote-debugging-port=0", ...args, "about:blank"],
        { env, detached: true, stdio: ["ignore", "pipe", "pipe"] },
    );
    const kill = () => {
        try {
            process.kill(-child.pid, "SIGKILL");
        } catch {
            // gone already
        }
    };
    running.add(kill);
    const killAndClean = () => {
        kill();
        running.delete(kill);
        fs.rmSync(profile, { recursive: true, force: true });
    };

    // Both pipes are drained, or a full one would stall the browser.
    let buffered = "";
    child.stdout.on("data", (chunk) => {
        buffered += chunk;
        const lines = buffered.split("\n");
        buffered = lines.pop();
        lines.forEach((line) => onOutput?.(line));
    });
    try {
        // Firefox tells the address of its WebSocket on its standard error.
        const address = await new Promise((resolve, reject) => {
            let stderr = "";
            let found = false;
            const fail = (why) => {
                if (!found) {
                    clearTimeout(timer);
                    reject(new Error(`${executable} ${why}: ${stderr.trim().split("\n").slice(-5).join(" | ")}`));
                }
            };
            const timer = setTimeout(() => fail(`did not listen within ${LAUNCH_TIMEOUT_MS / 1000} s`), LAUNCH_TIMEOUT_MS);
            child.once("error", (error) => fail(`did not start (${error.message})`));
            child.once("exit", (status, signal) => fail(`exited (${signal ?? status}) before listening`));
            child.stderr.on("data", (chunk) => {
                if (found) {
                    return;
                }
                stderr += chunk;
                const listening = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(stderr);
                if (listening) {
                    found = true;
                    clearTimeout(timer);
                    resolve(listening[1]);
                }
            });
        });
        const connection = await Connection.open(`${address}/session`);
        const browser = new Browser(connection, child, killAndClean);
        try {
            await browser.send("session.new", { capabilities: {} });
            await browser.trackContexts();
        } catch (error) {
            connection.close();
            throw error;
        }
        return browser;
    } catch (error) {
        killAndClean();
        throw error;
    }
}
