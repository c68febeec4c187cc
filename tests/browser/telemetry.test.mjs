// A whole run of the installer built in flavour qv (KestrixSetup_qv, tests/telemetry):
// started, its window opened and closed. Its telemetry reaches the collection stand-in
// (tests/support/collector.py) as one session from launch to exit, and its
// files lie in the redirected shared application data folder.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { existsSync, readFileSync, rmSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, privateFolder } from "./harness.mjs";

const product = process.env.KX_QV_INSTALLER;
const appKey = "MA-2718-5A5A5A5A5A5A";

// The stand-in on a port of its own; `requests()` answers what it received.
async function startCollector() {
  const child = spawn("/usr/bin/python3", [process.env.KX_COLLECTOR, "--lifetime", "100",
    "--key-constant", process.env.KX_TEST_TELEMETRY_KEY_CONSTANT], { stdio: ["pipe", "pipe", "inherit"] });
  const port = await new Promise((resolve, reject) => {
    let text = "";
    child.stdout.on("data", (data) => {
      text += data;
      const match = /^PORT (\d+)$/m.exec(text);
      if (match) resolve(Number(match[1]));
    });
    child.on("exit", () => reject(new Error("the collector ended: " + text)));
  });
  return {
    host: `127.0.0.1:${port}`,
    requests: async () => (await fetch(`http://127.0.0.1:${port}/__requests`)).json(),
    stop: () => child.stdin.end(),
  };
}

describe("telemetry of a qv run", { timeout: 90000 }, () => {
  let browser;
  before(async () => {
    assert.ok(product, "KX_QV_INSTALLER names the installer built in flavour qv");
    browser = await launchBrowser();
  });
  after(async () => browser && (await browser.close()));

  it("delivers da_launch and da_exit in one session and keeps its files in the shared data folder", async () => {
    const collector = await startCollector();
    const machine = privateFolder("kx-telemetry-machine-");
    const native = new NativeProcess(product, [], {
      KX_TEST_TELEMETRY_HOST: collector.host,
      KX_MACHINE_ROOT: machine,
      XDG_CONFIG_HOME: join(machine, "config"),
      XDG_DATA_HOME: join(machine, "data"),
      TMPDIR: machine,
    });
    try {
      const page = await (await browser.newContext()).newPage();
      await page.goto(await native.url);
      await page.waitForFunction(() => typeof centerWindow === "function");
      // No configuration server answers here: a second after start the page
      // asks about the configuration, and "退出" closes the window.
      const dialog = page.frameLocator("iframe.kx-modal");
      await dialog.locator("#tipContent", { hasText: "获取配置信息失败" }).waitFor({ timeout: 20000 });
      await dialog.locator("#cancel", { hasText: "退出" }).click();
      assert.equal(await exitWithin(native, 20000), 0);

      const requests = await collector.requests();
      assert.equal(requests.length, 1, "one payload");
      assert.equal(requests[0].error, null);
      const records = requests[0].records;
      const types = records.map((r) => r.dataType);
      assert.deepEqual([types[0], types[1], types.at(-1)], ["h", "s", "c"]);
      const events = records.filter((r) => r.dataType === "e");
      assert.equal(events[0].eventId, "da_launch");
      assert.equal(events.at(-1).eventId, "da_exit");
      const session = records[1].sessionUuid;
      for (const record of records.slice(1)) assert.equal(record.sessionUuid, session);
      assert.equal(records[0].appKey, appKey);
      assert.equal(records[0].appChannel, "official");
      assert.equal(records[0].devicePlatform, "Windows");
      const header = Object.fromEntries(requests[0].headers);
      assert.equal(header["Content-Type"], "application/x-gzip");
      assert.match(header["Hashed-APPKEY"], /^[0-9A-F]{40}$/);

      const shared = join(machine, "ProgramData");
      assert.ok(existsSync(join(shared, "NimbrelTally", appKey, "daEvc.dat")));
      assert.ok(!existsSync(join(shared, "NimbrelTally", appKey, "daMetr.dat")), "nothing left unsent");
      const log = readFileSync(join(shared, "NimbrelTallyLog", appKey, `tally_${appKey}.log`), "utf8");
      assert.match(log, /^\*+InitLogFile\*+\n/);
      assert.match(log, /AppLaunch\(\) Appkey:MA-2718-5A5A5A5A5A5A, AppVersion:1\.0\.8, AppChannel:official\n/);
      assert.match(log, /CEventCtrl::StartSends\(\) Send current success\.\n/);
      assert.match(log, /\*+EndLogFile\*+\n$/);
    } finally {
      await native.stop();
      collector.stop();
      rmSync(machine, { recursive: true, force: true });
    }
  });
});
