// The installer's window as its page sees it: the real executable with a
// page that records every page function the window calls. The page calls
// every method of Window.this.nativeInterface; what the native side posts
// itself, from the UI thread or from the install manager's worker, comes
// back as page calls in posting order.
import assert from "node:assert/strict";
import { mkdirSync, rmSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, privateFolder } from "./harness.mjs";

const program = process.env.KX_BRIDGE_INSTALLER;

const methods = [
  ["startInstall", 1], ["cancelInstall", 0], ["selectDirectory", 1], ["lanuchPlatform", 3],
  ["responseReconnect", 1], ["cancelConnect", 0], ["reStartInstall", 1], ["closeInstaller", 2],
  ["createCustomShortcut", 0], ["isInstalled", 1], ["setInstallGame", 1], ["enableCreatePlatformLnk", 1],
  ["track", 1], ["trackEx", 3], ["enableAutoRun", 1], ["openUrl", 1],
];

describe("installer window bridge", { timeout: 90000 }, () => {
  let browser;
  let scratch;
  before(async () => {
    assert.ok(program, "KX_BRIDGE_INSTALLER names the installer built with the recording page");
    browser = await launchBrowser();
  });
  after(async () => {
    if (browser) await browser.close();
    if (scratch) rmSync(scratch, { recursive: true, force: true });
  });

  it("answers every method and hands posted messages to the page in order", async () => {
    scratch = privateFolder("kx-window-bridge-");
    const env = {};
    for (const [name, folder] of [["XDG_CONFIG_HOME", "config"], ["XDG_DATA_HOME", "data"],
                                  ["KX_MACHINE_ROOT", "machine"], ["TMPDIR", "tmp"], ["HOME", "home"]]) {
      env[name] = join(scratch, folder);
      mkdirSync(env[name]);
    }
    const native = new NativeProcess(program, [], env);
    try {
      const page = await browser.newPage();
      await page.goto(await native.url);
      const received = () => page.evaluate(() => window.received);
      const nextCalls = async (count) => {
        await page.waitForFunction((n) => window.received.length >= n, count, { timeout: 60000 });
        return page.evaluate((n) => window.received.splice(0, n), count);
      };
      const call = (name, ...args) =>
        page.evaluate(([n, a]) => Window.this.nativeInterface[n](...a).then(
          (value) => ({ value }), (error) => ({ error: error.message })), [name, args]);

      // Start-up: the page's language, then the centring before the window shows.
      // The page's setLang throws: one line is logged and the window goes on.
      assert.deepEqual(await nextCalls(2), [["setLang", "en"], ["centerWindow"]]);
      assert.equal(native.errors.match(/no such language/g)?.length, 1, native.errors);

      const shape = await page.evaluate(() => {
        const bridge = Window.this.nativeInterface;
        return {
          methods: Object.keys(bridge).filter((k) => typeof bridge[k] === "function").map((k) => [k, bridge[k].length]),
          handle: typeof bridge.windowHandle,
          separator: bridge.pathSeparator,
          folder: bridge.defaultInstallFolder,
        };
      });
      assert.deepEqual(shape, { methods, handle: "number", separator: "/", folder: join(env.HOME, "kestrix") });

      // Results and conversions.
      for (const [name, args, value] of [
        ["setInstallGame", [true], true], ["enableCreatePlatformLnk", [1], false], ["enableAutoRun", [0], false],
        ["isInstalled", ["Emberhold"], false], ["closeInstaller", [false, ""], true],
        ["createCustomShortcut", [], undefined], ["track", ["x"], undefined], ["trackEx", ["x", "k", true], undefined],
        ["openUrl", ["file:///etc/passwd"], true], ["reStartInstall", [false], undefined],
        ["cancelInstall", [], undefined], ["responseReconnect", [false], undefined],
      ]) {
        assert.deepEqual(await call(name, ...args), { value }, name);
      }

      // A folder: its free space first, then the required space (the built-in
      // 4 GiB package, twice), posted by the UI thread.
      assert.deepEqual(await call("selectDirectory", join(scratch, "home", "kestrix")), { value: undefined });
      const [disk, packageSpace] = await nextCalls(2);
      assert.equal(disk[0], "setDiskSpace");
      assert.ok(disk[1] > 0 && disk[2] === disk[1] >= 8 * 2 ** 30, JSON.stringify(disk));
      assert.deepEqual(packageSpace, ["setPackageSpace", 8 * 2 ** 30]);

      await call("selectDirectory", "Z:\\Games");
      assert.deepEqual(await nextCalls(1), [["pathIsInvalid", false]]);
      assert.deepEqual(await call("startInstall", join(scratch, "a?b")), { value: false });
      assert.deepEqual(await nextCalls(1), [["pathIsInvalid", true]]);
      // A native error reaches the page as a thrown error carrying its message.
      const thrown = await call("startInstall", "D:\\Games");
      assert.match(thrown.error ?? "", /create_directories/);

      // A real start: the package server is unreachable, so the worker's
      // engine fails; within the budget the window resumes by itself, beyond
      // it the worker is stopped and the page asked.
      assert.deepEqual(await call("startInstall", join(scratch, "home", "kestrix")), { value: true });
      await page.waitForFunction(() => window.received.some((r) => r[0] === "showConfirmReconnect"), null,
                                 { timeout: 60000 });
      const asked = await received();
      assert.deepEqual(asked.filter((r) => r[0] !== "updateDownloadProgress").map((r) => r[0]), ["showConfirmReconnect"]);
      assert.deepEqual(await call("responseReconnect", false), { value: undefined });
      assert.deepEqual(await call("lanuchPlatform", false, true, "Emberhold"), { value: true });
      await page.waitForFunction(() => true);
      assert.match(native.output, /CreateProcess failed \(2\)\./, "the editor is not installed");

      // cancelConnect ends the program.
      await call("cancelConnect").catch(() => {});
      assert.equal(await exitWithin(native, 10000), 0);
    } finally {
      await native.stop();
    }
  });
});
