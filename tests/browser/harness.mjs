// What the browser tests share: starting a native window host without a
// display, a headless Chromium to open its announced address, and real
// app windows on a virtual display.
import { spawn } from "node:child_process";
import { chmodSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

export const chromiumFlags = [
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--disable-quic",
  ...(process.getuid && process.getuid() === 0 ? ["--no-sandbox"] : []),
];

export function launchBrowser() {
  return chromium.launch({ executablePath: "/usr/bin/chromium", headless: true, args: chromiumFlags });
}

export function privateFolder(prefix) {
  const folder = mkdtempSync(join(tmpdir(), prefix));
  chmodSync(folder, 0o700);
  return folder;
}

// A started native program. `url` resolves with the address of its
// "window: URL" line; `exited` with its exit code.
export class NativeProcess {
  constructor(program, args = [], extraEnv = {}) {
    this.runFolder = privateFolder("kx-browser-test-");
    const env = { ...process.env, XDG_RUNTIME_DIR: this.runFolder, ...extraEnv };
    if (!("DISPLAY" in extraEnv)) delete env.DISPLAY;
    delete env.WAYLAND_DISPLAY;
    this.child = spawn(program, args, { env, stdio: ["ignore", "pipe", "pipe"] });
    this.output = "";
    this.errors = "";
    this.exitCode = null;
    this.exited = new Promise((resolve) =>
      this.child.on("exit", (code, signal) => {
        this.exitCode = code ?? 128;
        resolve(this.exitCode);
        void signal;
      }));
    this.url = new Promise((resolve, reject) => {
      this.child.stdout.on("data", (data) => {
        this.output += data;
        const match = /^window: (\S+)$/m.exec(this.output);
        if (match) resolve(match[1]);
      });
      this.exited.then(() => reject(new Error(`exited before showing its window: ${this.errors}`)));
    });
    this.url.catch(() => {});
    this.child.stderr.on("data", (data) => (this.errors += data));
  }

  get running() {
    return this.exitCode === null;
  }

  async stop() {
    if (this.running) this.child.kill("SIGKILL");
    await this.exited;
    rmSync(this.runFolder, { recursive: true, force: true });
  }
}

// Resolves with the exit code, or rejects after `ms`.
export function exitWithin(native, ms) {
  let timer;
  const late = new Promise((_, reject) => (timer = setTimeout(() => reject(new Error(`still running after ${ms} ms`)), ms)));
  // A timer left behind would keep the test process alive for the rest of `ms`.
  return Promise.race([native.exited, late]).finally(() => clearTimeout(timer));
}

// A virtual X display for the tests of real windows; `name` is ":N".
export async function startDisplay() {
  const server = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
    { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  const number = await new Promise((resolve, reject) => {
    server.stdio[3].once("data", (d) => resolve(String(d).trim()));
    server.once("exit", () => reject(new Error("Xvfb ended")));
  });
  return { name: ":" + number, stop: () => server.kill() };
}

// Chromium's app window for `url` on `display`, sized as the engine opens
// one, driven through its debugging port. Resolves with { page, close }.
export async function openAppWindow(url, display, width, height) {
  const profile = privateFolder("kx-app-window-");
  const child = spawn("/usr/bin/chromium", [...chromiumFlags, `--user-data-dir=${profile}`, "--remote-debugging-port=0",
    `--app=${url}`, `--window-size=${width},${height}`],
  { env: { ...process.env, DISPLAY: display }, stdio: "ignore", detached: true });
  // Chromium and its helper processes form a group of their own: end them all before removing the profile.
  const close = async () => {
    const exited = new Promise((resolve) => (child.exitCode === null && child.signalCode === null ? child.once("exit", resolve) : resolve()));
    try {
      process.kill(-child.pid, "SIGKILL");
    } catch {
      // already gone
    }
    await exited;
    rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
  };
  try {
    const portFile = join(profile, "DevToolsActivePort");
    const deadline = Date.now() + 20000;
    while (!existsSync(portFile) || !readFileSync(portFile, "utf8").includes("\n")) {
      if (Date.now() > deadline) throw new Error("Chromium did not open its debugging port");
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    const browser = await chromium.connectOverCDP("http://127.0.0.1:" + readFileSync(portFile, "utf8").split("\n")[0]);
    let page;
    while (!(page = browser.contexts().flatMap((c) => c.pages())[0])) {
      if (Date.now() > deadline) throw new Error("no app window");
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    return { page, close: async () => { await browser.close().catch(() => {}); await close(); } };
  } catch (error) {
    await close();
    throw error;
  }
}

// Environment that puts every operating-system location the installer
// touches (registry, desktops, trash, temporary files, home) under `folder`.
export function redirectedLocations(folder) {
  const env = {
    HOME: join(folder, "home"),
    XDG_CONFIG_HOME: join(folder, "config"),
    XDG_DATA_HOME: join(folder, "data"),
    KX_MACHINE_ROOT: join(folder, "machine"),
    TMPDIR: join(folder, "tmp"),
  };
  for (const location of Object.values(env)) mkdirSync(location, { recursive: true });
  return env;
}

// Saves what `page` shows as KX_SCREENSHOTS/NAME.png (when that folder is
// given), once every picture its elements and dialogs draw has arrived.
export async function savePicture(page, name) {
  const folder = process.env.KX_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  for (const frame of page.frames()) {
    if (frame.isDetached()) continue;
    // Loading each background picture once more resolves when it is there,
    // whether it came over the wire or from the cache (which leaves no
    // resource timing entry to look for).
    await frame.evaluate(async () => {
      const wanted = new Set();
      for (const element of document.querySelectorAll("*")) {
        const box = element.getBoundingClientRect();
        if (!element.checkVisibility() || box.width === 0 || box.height === 0) continue;
        for (const match of getComputedStyle(element).backgroundImage.matchAll(/url\("([^"]+)"\)/g)) wanted.add(match[1]);
      }
      const load = (url) => { const image = new Image(); image.src = url; return image.decode().catch(() => {}); };
      await Promise.all([...[...wanted].map(load), ...[...document.images].map((image) => image.decode().catch(() => {}))]);
    });
  }
  await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
  await page.screenshot({ path: join(folder, name + ".png") });
}

// Asks `probe` (which may answer a promise) every 50 ms until it answers
// something truthy, and answers that; throws after `ms`.
export async function poll(probe, ms = 10000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error("timed out waiting");
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}
