// What the browser tests share: starting a native window host without a
// display, and a headless Chromium to open its announced address.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync, chmodSync } from "node:fs";
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
  return Promise.race([
    native.exited,
    new Promise((_, reject) => setTimeout(() => reject(new Error(`still running after ${ms} ms`)), ms)),
  ]);
}
