// The script bridge between a page in Chromium and native code, driven
// against tests/uiengine/bridge_host.cpp.
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, afterEach, before, beforeEach, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, openAppWindow, poll, privateFolder, startDisplay } from "./harness.mjs";

const host = process.env.KX_BRIDGE_HOST;
const graceMs = 1500;  // long enough for a reload on a busy machine

describe("script bridge", { timeout: 100000 }, () => {
  let browser;
  let native;
  let context;
  let page;

  // A stand-in for the desktop's opener, first on the host's search path, noting what it was asked to open.
  let opener;
  before(async () => {
    assert.ok(host, "KX_BRIDGE_HOST names the bridge host");
    browser = await launchBrowser();
    opener = privateFolder("kx-opener-");
    writeFileSync(join(opener, "xdg-open"), `#!/bin/sh\nprintf '%s\\n' "$@" >> '${join(opener, "opened")}'\n`, { mode: 0o700 });
  });
  after(async () => {
    if (browser) await browser.close();
    if (opener) rmSync(opener, { recursive: true, force: true });
  });


  // One browser context and, while it stays open, one page serve every test:
  // each host has a session cookie of its own name.
  beforeEach(async () => {
    native = new NativeProcess(host, ["--grace-ms", String(graceMs)], { PATH: `${opener}:${process.env.PATH}` });
    context ??= await browser.newContext();
    if (!page || page.isClosed()) {
      page = await context.newPage();
      page.on("pageerror", (error) => console.error("page error:", error.message));
    }
    await page.goto(await native.url);
    await page.waitForFunction(() => window.startedWith.length === 1);
  });
  afterEach(async () => {
    await native.stop();
  });

  const call = (method, ...args) =>
    page.evaluate(([m, a]) => Window.this.nativeInterface[m](...a), [method, args]);

  it("calls native methods and gets their values back", async () => {
    assert.equal(await call("add", 2, 3), 5);
    assert.equal(await call("add", 0.5, 0.25), 0.75);
    assert.equal(await call("echo", "中文 \"quoted\""), "中文 \"quoted\"");
    assert.deepEqual(await call("echo", [1, "a", { b: false }]), [1, "a", { b: false }]);
    assert.equal(await call("echo", null), null);
    assert.deepEqual(await page.evaluate(() => window.startedWith), ["early"], "a call made before the page loaded");
  });

  it("converts arguments as native code reads them", async () => {
    const cases = [
      ["folder", "string|folder|false"],
      [5, "int|5|true"],
      [-1, "int|-1|true"],
      [0, "int|0|false"],
      [true, "bool|true|true"],
      [false, "bool|false|false"],
      [1.5, "double|1.5|false"],
      [3000000000, "double|3000000000|false"],
      [null, "null|null|false"],
      [[1, "a"], "array|1,a|false"],
      [{ a: 1 }, "object|[object Object]|false"],
    ];
    for (const [value, expected] of cases) assert.equal(await call("describe", value), expected, JSON.stringify(value));
  });

  it("keeps declared parameter counts and read-only properties", async () => {
    const facts = await page.evaluate(async () => {
      const ni = Window.this.nativeInterface;
      let wrongCount;
      await ni.add(1).catch((error) => (wrongCount = error.message));
      const handle = ni.windowHandle;
      let assigned = "no error";
      try {
        (() => {
          "use strict";
          ni.windowHandle = 99;
        })();
      } catch (error) {
        assigned = error.constructor.name;
      }
      return { wrongCount, handle, after: ni.windowHandle, assigned, addLength: ni.add.length, missing: typeof ni.nope };
    });
    assert.match(facts.wrongCount, /add takes 2 argument\(s\), got 1/);
    assert.ok(Number.isInteger(facts.handle) && facts.handle > 0);
    assert.equal(facts.after, facts.handle);
    assert.equal(facts.assigned, "TypeError");
    assert.equal(facts.addLength, 2);
    assert.equal(facts.missing, "undefined");
  });

  it("turns a native exception into a thrown error with its message", async () => {
    const messages = await page.evaluate(async () => {
      const out = [];
      for (const method of ["fail", "failWithValue"]) {
        try {
          await Window.this.nativeInterface[method]("磁盘已满: disk full");
          out.push("no error");
        } catch (error) {
          out.push(`${error instanceof Error}:${error.message}`);
        }
      }
      return out;
    });
    assert.deepEqual(messages, ["true:磁盘已满: disk full", "true:磁盘已满: disk full"]);
    assert.equal(await call("add", 1, 1), 2, "the bridge works on after an error");
  });

  it("runs messages posted by a worker thread as page calls on the main thread, in order", async () => {
    await call("postTicks", 300);
    await page.waitForFunction(() => window.ticks.length === 300);
    const ticks = await page.evaluate(() => window.ticks);
    ticks.forEach(([wParam, lParam, onMainThread], i) => {
      assert.equal(wParam, i);
      assert.equal(lParam, i * 10);
      assert.equal(onMainThread, true);
    });
  });

  it("tells native code when the window's focus or visibility changes, with the screen size", async () => {
    const last = async () => (await call("activities")).at(-1);
    const screenSize = await page.evaluate(() =>
      `${Math.round(screen.width * devicePixelRatio)}x${Math.round(screen.height * devicePixelRatio)}`);
    await poll(async () => (await call("activities")).length > 0);
    // The page reads the real focus state; here it is steered as the user would move it.
    await page.evaluate(() => {
      document.hasFocus = () => false;
      window.dispatchEvent(new Event("blur"));
    });
    await poll(async () => (await last()).startsWith("away|"));
    await page.evaluate(() => {
      document.hasFocus = () => true;
      window.dispatchEvent(new Event("focus"));
      window.dispatchEvent(new Event("focus"));  // no change, no report
    });
    await poll(async () => (await last()).startsWith("focused|"));
    const reports = await call("activities");
    assert.equal(reports.at(-2), `away|visible|${screenSize}`);
    assert.equal(reports.at(-1), `focused|visible|${screenSize}`);
    assert.notEqual(reports.at(-3), reports.at(-2), "only changes are reported");
  });

  it("reports page functions that throw as script errors and returns values of the others", async () => {
    await call("callPage", "thrower", ["bad thing"]);
    assert.deepEqual(await call("lastResult"), { error: true, value: "bad thing" });
    await call("callPage", "twice", [21]);
    assert.deepEqual(await call("lastResult"), { error: false, value: 42 });
    await call("callPage", "notDefinedByThePage", []);
    assert.deepEqual(await call("lastResult"), { error: false, value: null });
    await call("callPage", "fromIncludedPart", []);
    assert.deepEqual(await call("lastResult"), { error: false, value: "included part" }, "a function of an included document");
  });

  it("opens a modal dialog and answers the value it closes with", async () => {
    const ask = (url, answer) =>
      page.evaluate(([u, a]) => Window.this.modal({ url: u, parameters: { title: "问题", answer: a } }), [url, answer]);
    const dialog = page.frameLocator("iframe.kx-modal");

    let answer = ask("__DIR__dialog.htm".replace("__DIR__", await page.evaluate(() => __DIR__)), "yes-value");
    assert.equal(await dialog.locator("#title").textContent(), "问题");
    await dialog.locator("#yes").click();
    assert.equal(await answer, "yes-value");
    assert.equal(await page.locator("iframe.kx-modal").count(), 0);

    answer = ask("this://app/dialog.htm", true);
    await dialog.locator("#x").click();
    assert.equal(await answer, undefined, "closed by its close button: no value");

    answer = ask("this://app/dialog.htm", true);
    await dialog.locator("#title").waitFor();
    await page.keyboard.press("Escape");
    assert.equal(await answer, undefined, "closed with Escape: no value");
  });

  it("lets a person pick a folder and answers its file URL, or nothing when cancelled", async () => {
    const root = privateFolder("kx-picker-");
    mkdirSync(join(root, "a b"));
    mkdirSync(join(root, "c"));
    try {
      // Opens the picker and waits for its first listing.
      const pick = async () => {
        const answer = page.evaluate(() => Window.this.selectFolder());
        await page.locator(".kx-picker[data-path]").waitFor();
        return { answer };
      };
      let { answer: picked } = await pick();
      await page.fill(".kx-picker-path", root);
      await page.press(".kx-picker-path", "Enter");
      await page.click('.kx-picker-list li[data-name="a b"]');
      await page.click(".kx-picker-ok");
      assert.equal(await picked, "file://" + root.split("/").map(encodeURIComponent).join("/") + "/a%20b");

      ({ answer: picked } = await pick());
      await page.fill(".kx-picker-path", join(root, "c"));
      await page.press(".kx-picker-path", "Enter");
      await page.locator(`.kx-picker[data-path="${join(root, "c")}"]`).waitFor();
      await page.click(".kx-picker-ok");
      assert.equal(decodeURIComponent((await picked).slice(7)), join(root, "c"));

      ({ answer: picked } = await pick());
      await page.fill(".kx-picker-path", join(root, "missing"));
      await page.press(".kx-picker-path", "Enter");
      await page.waitForFunction(() => document.querySelector(".kx-picker-error").textContent.startsWith("not a folder"));
      await page.click(".kx-picker-cancel");
      assert.equal(await picked, undefined);
    } finally {
      rmSync(root, { recursive: true, force: true });
    }
  });

  it("opens links meant for the system's browser there, not in the window", async () => {
    await page.click("#agreement");
    const opened = join(opener, "opened");
    await poll(() => existsSync(opened));
    assert.equal(readFileSync(opened, "utf8"), "https://www.kestrix.test/user-agreement?a=1&b=2\n");
    assert.equal(new URL(page.url()).pathname, "/index.htm");
    assert.equal(context.pages().length, 1, "no browser window of its own");
  });

  it("offers the runtime modules and element helpers", async () => {
    const root = privateFolder("kx-modules-");
    mkdirSync(join(root, "sub"));
    try {
      const facts = await page.evaluate(async (folder) => {
        const sciter = await import("@sciter");
        const env = await import("@env");
        const sys = await import("@sys");
        let clicked = null;
        sciter.on("click", "#text", (event, element) => (clicked = element.id));
        document.$("#text").click();
        let evalAllowed = true;
        try {
          eval("1");
        } catch {
          evalAllowed = false;
        }
        const button = document.$("#shut");
        button.state.disabled = true;
        const disabled = button.state.disabled;
        button.state.disabled = false;
        return {
          text: sciter.$("#text").textContent,
          clicked,
          disabled,
          enabledAgain: !button.disabled,
          argv: env.argv,
          entries: await sys.fs.readdir(folder),
          media: document.documentElement.getAttribute("media-type"),
          title: document.title,
          evalAllowed,
        };
      }, root);
      assert.deepEqual(facts, {
        text: "bridge",
        clicked: "text",
        disabled: true,
        enabledAgain: true,
        argv: ["uiengine_bridge_host", "--grace-ms"],
        entries: [{ name: "sub", folder: true }],
        media: "desktop",
        title: "bridge test",
        evalAllowed: false,  // the host allows file I/O only
      });
    } finally {
      rmSync(root, { recursive: true, force: true });
    }
  });

  it("ends the loop with the value the window is closed with", async () => {
    await page.evaluate(() => Window.this.close(7));
    assert.equal(await exitWithin(native, 5000), 7);
    assert.match(native.output, /^destroyed$/m, "the host heard of the window's end");
  });

  it("ends the loop when the page is gone for longer than the grace period", async () => {
    const closedAt = Date.now();
    await page.close();
    assert.equal(await exitWithin(native, graceMs + 5000), 0);
    assert.ok(Date.now() - closedAt >= graceMs - 100, "not before the grace period");
  });

  it("keeps the window through a reload", async () => {
    await page.reload();
    await page.waitForFunction(() => window.startedWith && window.startedWith.length === 0 && Window.this.nativeInterface);
    await page.waitForTimeout(graceMs + 300);
    assert.ok(native.running);
    assert.equal(await call("add", 40, 2), 42);
  });

  it("closes the window on a close message the handler does not consume", async () => {
    await call("keepOpenOnClose", true);
    assert.equal(await call("postClose"), true);
    assert.equal(await call("add", 1, 2), 3, "consumed: the window stays");
    await call("keepOpenOnClose", false);
    await call("postClose").catch(() => {});
    assert.equal(await exitWithin(native, 5000), 0);
  });

  it("refuses a page of another local origin, even in the window's own browser", async () => {
    const windowOrigin = new URL(page.url()).origin;
    const foreign = createServer((request, response) => {
      response.setHeader("Content-Type", "text/html");
      response.end("<title>foreign</title>");
    });
    await new Promise((resolve) => foreign.listen(0, "127.0.0.1", resolve));
    const attacker = await context.newPage();  // shares the window's cookies
    try {
      await attacker.goto(`http://127.0.0.1:${foreign.address().port}/`);
      const outcome = await attacker.evaluate(async (origin) => {
        const socket = await new Promise((resolve) => {
          const ws = new WebSocket(origin.replace("http:", "ws:") + "/__kx/channel");
          ws.onopen = () => resolve("opened");
          ws.onerror = () => resolve("refused");
        });
        const read = await fetch(origin + "/__kx/config.js", { credentials: "include" }).then(
          (r) => r.text(), () => "refused");
        return { socket, read };
      }, windowOrigin);
      assert.deepEqual(outcome, { socket: "refused", read: "refused" });
      assert.equal(await call("add", 2, 2), 4, "the window's own page keeps its channel");
    } finally {
      await attacker.close();
      foreign.close();
    }
  });
});


describe("app window on a display", { skip: !existsSync("/usr/bin/Xvfb") && "no Xvfb", timeout: 60000 }, () => {
  it("gives the page the area its window-width and window-height ask for, below the browser's title bar", async () => {
    const display = await startDisplay();
    const native = new NativeProcess(host);
    let app;
    try {
      app = await openAppWindow(await native.url, display.name, 640, 400);
      await app.page.waitForFunction(() => window.startedWith);
      await app.page.waitForFunction(() => innerWidth === 640 && innerHeight === 400, null, { timeout: 10000 })
        .catch(async () => assert.fail(`page area ${await app.page.evaluate(() => [innerWidth, innerHeight])}`));
    } finally {
      if (app) await app.close();
      await native.stop();
      display.stop();
    }
  });
});
