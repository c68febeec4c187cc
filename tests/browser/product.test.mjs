// build/bin/KestrixSetup as a user meets it: without a display it announces
// its window's address, with one it opens its own Chromium window.
import assert from "node:assert/strict";
import { existsSync, readFileSync, readdirSync } from "node:fs";
import { after, before, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, poll, startDisplay } from "./harness.mjs";

const product = process.env.KX_PRODUCT;

describe("installer window", { timeout: 60000 }, () => {
  let browser;
  before(async () => {
    assert.ok(product, "KX_PRODUCT names the product executable");
    browser = await launchBrowser();
  });
  after(async () => browser && (await browser.close()));

  it("serves its page only with the session secret and ends when the page closes it", async () => {
    const native = new NativeProcess(product);
    try {
      const url = await native.url;
      const origin = new URL(url).origin;
      assert.equal((await fetch(origin + "/index.htm")).status, 403, "no secret, no page");
      const context = await browser.newContext();
      // Start-up centres the window through the page's centerWindow(), which moves it.
      // The window's size may still change while the page loads: each move is
      // recorded with the centre for the size the window had at that moment.
      await context.addInitScript(() => {
        window.moves = [];
        window.moveTo = (x, y) => window.moves.push({ to: [x, y],
          centre: [Math.round((screen.width - outerWidth) / 2), Math.round((screen.height - outerHeight) / 2)] });
      });
      const page = await context.newPage();
      await page.goto(url);
      assert.equal(new URL(page.url()).pathname, "/index.htm");
      await page.waitForFunction(() => window.moves.length > 0);
      const moves = await page.evaluate(() => window.moves);
      assert.equal(moves.length, 1);
      assert.deepEqual(moves[0].to, moves[0].centre);
      const facts = await page.evaluate(() => ({
        title: document.title,
        width: document.documentElement.getAttribute("window-width"),
        height: document.documentElement.getAttribute("window-height"),
        frame: document.documentElement.getAttribute("window-frame"),
        resizable: document.documentElement.getAttribute("window-resizable"),
        center: typeof centerWindow,
      }));
      assert.deepEqual(facts, {
        title: "Kestrix编辑器下载器", width: "982px", height: "568px", frame: "transparent", resizable: "false",
        center: "function",
      });
      const again = await (await browser.newContext()).newPage();
      assert.equal((await again.goto(url)).status(), 403, "the start address works once");
      await page.click("#close");
      await page.frameLocator("iframe.kx-modal").locator("#confirm").click();  // the exit question
      assert.equal(await exitWithin(native, 5000), 0);
      await context.close();
    } finally {
      await native.stop();
    }
  });

  it("opens its own browser window on a display and ends when that window goes", { skip: !existsSync("/usr/bin/Xvfb") && "no Xvfb" }, async () => {
    const display = await startDisplay();
    const native = new NativeProcess(product, [], { DISPLAY: display.name });
    try {
      const browserProcess = await poll(() => childrenOf(native.child.pid).find((p) => p.args.some((a) => a.startsWith("--app="))), 15000);
      const appUrl = new URL(browserProcess.args.find((a) => a.startsWith("--app=")).slice(6));
      const profile = browserProcess.args.find((a) => a.startsWith("--user-data-dir=")).slice(16);
      assert.ok(browserProcess.args.includes("--window-size=982,568"));
      for (const flag of ["--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-quic"])
        assert.ok(browserProcess.args.includes(flag), flag);
      // The page has loaded and holds its live channel open.
      await poll(() => establishedTo(Number(appUrl.port)), 20000);
      assert.doesNotMatch(native.output, /window:/, "no address line when the window opens by itself");
      process.kill(browserProcess.pid, "SIGTERM");
      assert.equal(await exitWithin(native, 15000), 0);
      assert.equal(existsSync(profile), false, "the private profile is removed");
    } finally {
      await native.stop();
      display.stop();
    }
  });
});

function childrenOf(pid) {
  const found = [];
  for (const entry of readdirSync("/proc")) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, "utf8");
      const parent = Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]);
      if (parent !== pid) continue;
      const args = readFileSync(`/proc/${entry}/cmdline`, "utf8").split("\0").filter(Boolean);
      found.push({ pid: Number(entry), args });
    } catch {
      // gone meanwhile
    }
  }
  return found;
}

// An established TCP connection to 127.0.0.1:port.
function establishedTo(port) {
  const hexPort = port.toString(16).toUpperCase().padStart(4, "0");
  return readFileSync("/proc/net/tcp", "utf8").split("\n").some((line) => {
    const [, local, , state] = line.trim().split(/\s+/);
    return local === `0100007F:${hexPort}` && state === "01";
  });
}

