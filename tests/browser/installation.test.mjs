// Whole installations as a person makes them: the installer built for tests
// (tests/browser/CMakeLists.txt; no InstallerHelper.exe beside it, so the
// segmented downloader fetches) against kxserver.py, through its window in
// headless Chromium, with every operating-system location redirected.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { copyFileSync, existsSync, mkdirSync, openSync, readFileSync, rmSync, statSync, statfsSync, writeFileSync,
  writeSync, closeSync } from "node:fs";
import { join } from "node:path";
import { after, afterEach, before, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, poll, privateFolder } from "./harness.mjs";
import { InstallerWindow, makeEditorPackage, packageConfigPath, packageConfiguration, redirectedSystem }
  from "./installer_window.mjs";
import { KxServer } from "./kxserver.mjs";

const product = process.env.KX_PAGES_INSTALLER;
const screenshots = process.env.KX_SCREENSHOTS;
const packagePath = "/packages/KestrixEditor-2.0.zip";
const packageName = "KestrixEditor-2.0.zip";
const editorKey = "SOFTWARE\\Marrowin\\KestrixEditor\\2.0";

describe("a whole installation through the window", { timeout: 300000 }, () => {
  let browser;
  let server;
  let scratch;
  let figures;
  let damaged;
  let running = [];

  before(async () => {
    assert.ok(product, "KX_PAGES_INSTALLER names the installer built for tests");
    assert.ok(screenshots, "KX_SCREENSHOTS names the folder for screenshots");
    mkdirSync(screenshots, { recursive: true });
    scratch = privateFolder("kx-installation-");
    figures = makeEditorPackage(join(scratch, "package", packageName), 4);
    // The same size with a few bytes changed: only the digest tells it apart.
    damaged = join(scratch, "package", "damaged.zip");
    copyFileSync(figures.path, damaged);
    const fd = openSync(damaged, "r+");
    writeSync(fd, Buffer.from("damaged"), 0, 7, Math.floor(figures.size / 2));
    closeSync(fd);
    server = await KxServer.start({ certFolder: join(scratch, "tls") });
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await server?.stop();
    if (scratch) rmSync(scratch, { recursive: true, force: true });
  });

  afterEach(async () => {
    for (const { native, window } of running) {
      await window?.context.close().catch(() => {});
      await native.stop();
    }
    running = [];
  });

  // A fresh set of system folders, the configuration served, the package served by `rule`.
  async function freshSystem(name, packageRule) {
    await server.control({ reset: true });
    await server.routes({
      [packageConfigPath]: { body: packageConfiguration(server.url(packagePath), figures) },
      [packagePath]: packageRule,
    });
    return redirectedSystem(join(scratch, name));
  }

  async function start(system, args = []) {
    const native = new NativeProcess(product, args,
      { ...system.env, KX_TEST_HOST: server.hostAndPort, KX_TEST_CA_FILE: server.caFile });
    const entry = { native };
    running.push(entry);
    entry.window = await InstallerWindow.open(browser, native);
    return entry;
  }

  const shot = (window, name) => window.screenshot(join(screenshots, name + ".png"));

  async function packageGets() {
    return (await server.requests(packagePath)).filter((r) => r.method === "GET");
  }
  const bytesSent = (requests) => requests.reduce((sum, r) => sum + r.sent, 0);

  function registry(file) {
    return existsSync(file) ? JSON.parse(readFileSync(file, "utf8")) : {};
  }

  function installedEditor(folder) {
    return join(folder, "games", "2.0", "game", "Editor.exe");
  }

  it("rides out dropped connections, asks past the budget, goes on where it was, and starts the editor", async () => {
    const system = await freshSystem("drops", { file: figures.path, rate: 2000000, drop_after: 150000 });
    await server.route("/api/map", { body: JSON.stringify({ data: { gamePlayId: "4711", downloadName: "Dragon Tower",
      gameIcon: "", logo: "" } }) });
    // Handed out for one map: its id becomes the launch text.
    const { native, window } = await start(system,
      ["--setup", join(system.tmp, "Dragon Tower_setup.exe"), "--api", server.url("/api/map?fileName=")]);

    await window.waitForSpaceReport();
    await shot(window, "quick-install");
    assert.equal(await window.page.locator("#chooseNext").isDisabled(), true, "no start before the terms are ticked");
    await window.page.locator("#policy").click();
    await window.page.locator("#choosePath").click();
    await window.waitForScreen("chooseDiv1");
    assert.equal(await window.page.locator("#edit").inputValue(), system.defaultInstallFolder);
    await shot(window, "custom-install");
    await window.page.locator("#chooseBack").click();
    await window.acceptTerms();
    await window.install();

    const question = await window.dialog();
    assert.deepEqual(await question.read(),
      { title: "网络丢失", message: "网络连接中断请重试下载安装", buttons: ["退出", "重试安装"] });
    await shot(window, "reconnect-question");
    const before = await packageGets();
    const resumedInPlace = Object.values(bySegment(before)).some((starts) => starts.length > 1 && starts[1] > starts[0]);
    assert.ok(resumedInPlace, `a dropped range is fetched again from where it broke off: ${ranges(before)}`);
    assert.ok(before.length > 3, "several drops were ridden out before the question");

    await server.route(packagePath, { file: figures.path, rate: 2000000 });
    await question.answer("重试安装");
    await window.waitForScreen("finishDiv", 60000);
    await shot(window, "finish");

    const afterAnswer = (await packageGets()).slice(before.length);
    assert.ok(afterAnswer.length > 0);
    assert.ok(bytesSent(afterAnswer) < figures.size,
      `after the answer only what was missing is fetched: ${bytesSent(afterAnswer)} of ${figures.size}`);
    const folder = system.defaultInstallFolder;
    assert.ok(existsSync(installedEditor(folder)));
    assert.equal(folderOf(registry(system.userRegistry)[editorKey]?.EditorPath), folder);
    assert.equal(existsSync(join(system.home, packageName)), false, "the download is removed after installation");
    assert.equal(existsSync(join(system.home, packageName + ".cfg")), false);

    await window.clickFinish();
    assert.equal(await exitWithin(native, 10000), 0, "the window closes");
    const record = await poll(() => readIfThere(join(folder, "games", "2.0", "game", "started.txt")));
    assert.match(record, /^arguments: 1$/m);
    assert.match(record, /^argument: --customgame=4711$/m);
  });

  it("downloads a package that fails its check again when the person agrees, and installs it", async () => {
    const system = await freshSystem("damaged", { file: damaged, rate: 4000000 });
    const { native, window } = await start(system);
    await window.acceptTerms();
    await window.install();

    const question = await window.dialog(60000);
    assert.deepEqual(await question.read(),
      { title: "错误", message: "抱歉文件检测失败，请重新下载。", buttons: ["取消", "确定"] });
    await shot(window, "file-check-failed");
    assert.equal(existsSync(join(system.home, packageName)), false, "the damaged download is deleted");
    const before = (await packageGets()).length;

    await server.route(packagePath, { file: figures.path, rate: 4000000 });
    await question.answer("确定");
    assert.equal(await window.screen(), "progressDiv", "the window stays while the package is fetched again");
    await window.waitForScreen("finishDiv", 60000);
    assert.ok(native.running);
    assert.ok((await packageGets()).length > before);
    assert.ok(existsSync(installedEditor(system.defaultInstallFolder)));

    // On the finish screen the title-bar close ends the program.
    await window.clickClose();
    assert.equal(await exitWithin(native, 10000), 0);
  });

  it("keeps the partial download of a cancelled installation, installs nothing, and resumes it on the next start", async () => {
    const system = await freshSystem("cancel", { file: figures.path, rate: 400000 });
    const first = await start(system);
    await first.window.acceptTerms();
    await first.window.install();
    await first.window.waitForProgress((p) => p.percent >= 10 && p.speed !== "");
    await shot(first.window, "progress");

    await first.window.clickClose();
    const question = await first.window.dialog();
    assert.deepEqual(await question.read(), {
      title: "退出安装程序", message: "您确定要退出“kestrix编辑器”安装程序吗？", buttons: ["取消", "确认"] });
    await shot(first.window, "exit-question");
    await question.answer("确认");
    assert.equal(await exitWithin(first.native, 10000), 0);

    const download = join(system.home, packageName);
    assert.ok(existsSync(download), "the partial download stays");
    const record = JSON.parse(readFileSync(download + ".cfg", "utf8"));
    const kept = record.range.reduce((sum, segment) => sum + segment.seek, 0);
    assert.ok(kept > 0 && record.range.some((segment) => !segment.bFinished),
      `its record holds the progress: ${JSON.stringify(record.range)}`);
    assert.equal(existsSync(join(system.defaultInstallFolder, "games")), false, "nothing is installed");
    assert.equal(registry(system.userRegistry)[editorKey], undefined);
    const firstRun = await packageGets();

    await server.route(packagePath, { file: figures.path, rate: 4000000 });
    const second = await start(system);
    await second.window.acceptTerms();
    await second.window.install();
    await second.window.waitForScreen("finishDiv", 60000);
    const secondRun = (await packageGets()).slice(firstRun.length);
    assert.ok(secondRun.length > 0);
    assert.ok(bytesSent(secondRun) < figures.size - bytesSent(firstRun) / 2,
      `the new start fetches only what was missing: ${bytesSent(secondRun)} after ${bytesSent(firstRun)}`);
    assert.ok(existsSync(installedEditor(system.defaultInstallFolder)));
  });

  // A 64 MiB volume of its own (a tmpfs) in the home folder for `body`; the
  // test is skipped where mounting is not allowed (it needs root, as CI has).
  async function onSmallVolume(t, system, body) {
    const volume = join(system.home, "volume");
    mkdirSync(volume);
    const mounted = spawnSync("mount", ["-t", "tmpfs", "-o", "size=64m", "tmpfs", volume], { encoding: "utf8" });
    if (mounted.status !== 0) return t.skip(`a small volume needs root: ${mounted.stderr.trim()}`);
    try {
      await body(volume);
    } finally {
      spawnSync("umount", ["-l", volume]);
    }
  }

  // Picks `folder` on the custom install screen, with the terms ticked, and
  // waits for its space report.
  async function chooseFolder(window, folder, freeText) {
    await window.waitForSpaceReport();
    await window.page.locator("#policy").click();
    await window.page.locator("#choosePath").click();
    await window.page.locator("#edit").fill(folder);
    await window.page.locator("#edit").press("Tab");
    await window.page.waitForFunction((text) => document.querySelector("#availableSpace").textContent === text, freeText);
  }

  // Something else takes all of the volume but `leave` bytes; answers the file that does.
  function fillVolume(volume, leave) {
    const filler = join(volume, "filler");
    const { bavail, bsize } = statfsSync(volume);
    writeFileSync(filler, Buffer.alloc(bavail * bsize - leave));
    return filler;
  }

  it("stops for a full disk with the space figures, fetches nothing more, and goes on once there is room", async (t) => {
    const system = await freshSystem("full-disk", { file: figures.path, rate: 4000000 });
    await onSmallVolume(t, system, async (volume) => {
      const folder = join(volume, "kestrix");
      const { window } = await start(system);
      await chooseFolder(window, folder, "64.0MB");
      const filler = fillVolume(volume, 1048576);
      await window.page.locator("#chooseNext1").click();
      await window.waitForScreen("progressDiv");

      const question = await window.dialog(60000);
      assert.deepEqual(await question.read(),
        { title: "错误", message: "磁盘空间不足，请清理磁盘后重试。", buttons: ["退出", "重试"] });
      await shot(window, "disk-full");
      assert.match(await window.text("#availableSpace"), /^(1\.0MB|\d+\.\dKB) 磁盘空间不足$/);
      assert.equal(await window.text("#requiredSpace"), `${(2 * figures.size / 1048576).toFixed(1)}MB`);
      const asked = (await packageGets()).length;
      await new Promise((resolve) => setTimeout(resolve, 1500));
      assert.equal((await packageGets()).length, asked, "no retries while the disk is full");

      rmSync(filler);
      await question.answer("重试");
      await window.waitForScreen("finishDiv", 60000);
      assert.ok(existsSync(installedEditor(folder)));
    });
  });

  it("keeps the download when the editor finds no room, says so, and installs from it once there is room", async (t) => {
    const system = await freshSystem("full-at-extraction", { file: figures.path, rate: 4000000 });
    await onSmallVolume(t, system, async (volume) => {
      const folder = join(volume, "kestrix");
      const { window } = await start(system);
      await chooseFolder(window, folder, "64.0MB");
      // Room for the download, not for the editor it holds.
      const filler = fillVolume(volume, figures.size + 1048576);
      await window.page.locator("#chooseNext1").click();
      await window.waitForScreen("progressDiv");

      const question = await window.dialog(60000);
      assert.deepEqual(await question.read(),
        { title: "错误", message: "抱歉文件检测失败，请重新下载。", buttons: ["取消", "确定"] });
      assert.equal(existsSync(installedEditor(folder)), false);
      assert.equal(registry(system.userRegistry)[editorKey], undefined, "nothing is registered for it");
      assert.equal(statSync(join(volume, packageName)).size, figures.size, "the download stays");
      const fetched = (await packageGets()).length;

      rmSync(filler);
      await question.answer("确定");
      await window.waitForScreen("finishDiv", 60000);
      assert.ok(existsSync(installedEditor(folder)));
      assert.equal((await packageGets()).length, fetched, "installed from the download that was kept");
    });
  });

  it("offers to install over an editor 2.0 found at start and installs into its folder", async () => {
    const system = await freshSystem("overwrite", { file: figures.path, rate: 4000000 });
    const earlier = join(system.home, "Editors", "Kestrix");
    const oldGame = join(earlier, "games", "2.0", "game");
    mkdirSync(oldGame, { recursive: true });
    writeFileSync(join(oldGame, "Editor.exe"), "old editor", { mode: 0o755 });
    writeFileSync(join(oldGame, "left-over.txt"), "from the earlier installation");
    mkdirSync(join(system.config, "kestrix", "registry"), { recursive: true });
    writeFileSync(system.userRegistry, JSON.stringify({ [editorKey]: { EditorPath: earlier, UpdateTime: "1700000000" } }));

    const { window } = await start(system);
    const question = await window.dialog();
    assert.deepEqual(await question.read(),
      { title: "错误", message: "Kestrix编辑器2.0已经安装，是否需要覆盖原版本？", buttons: ["不覆盖", "覆盖安装"] });
    await shot(window, "overwrite-question");
    await question.answer("覆盖安装");
    await window.waitForScreen("finishDiv", 60000);

    assert.equal(existsSync(join(oldGame, "left-over.txt")), false, "the earlier editor folder is replaced");
    assert.notEqual(readFileSync(installedEditor(earlier), "utf8"), "old editor");
    assert.equal(existsSync(join(system.defaultInstallFolder, "games")), false);
    const key = registry(system.userRegistry)[editorKey];
    assert.equal(folderOf(key.EditorPath), earlier);
    assert.ok(Number(key.UpdateTime) > 1700000000);
  });
});

// Range starts per segment (keyed by the range's last byte), oldest first.
function bySegment(requests) {
  const segments = {};
  for (const r of requests) {
    const match = /^bytes=(\d+)-(\d+)$/.exec(r.range || "");
    if (match) (segments[match[2]] ??= []).push(Number(match[1]));
  }
  return segments;
}

// The installation folder is recorded with its trailing separator.
const folderOf = (path) => path?.replace(/\/+$/, "");

const ranges = (requests) => requests.map((r) => r.range).join(", ");

function readIfThere(path) {
  return existsSync(path) && statSync(path).size > 0 ? readFileSync(path, "utf8") : null;
}
