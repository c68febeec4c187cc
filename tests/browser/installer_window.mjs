// Driving the installer as a person does, through its window in headless
// Chromium: what the end-to-end tests and scripts/demo share. Also the pieces
// of a whole installation: the redirected system folders, the editor package
// and the configuration document that names it.
import { spawnSync } from "node:child_process";
import { mkdirSync } from "node:fs";
import { join } from "node:path";
import { supportFolder } from "./kxserver.mjs";

// Where the "kestrix" flavour asks for its package configuration (host role U5).
export const packageConfigPath = "/pl/up1_patchlist_produp5";

// The window's size in CSS pixels.
export const windowSize = { width: 982, height: 568 };

export const screens = {
  chooseDiv: "quick install",
  chooseDiv1: "custom install",
  progressDiv: "progress",
  finishDiv: "finish",
};

// Every place the installer keeps something outside its folder, below `root`:
// registry, machine folder (HKLM, HKCR, all-users desktop), trash, temporary
// folder, and the home folder that holds the default installation folder.
export function redirectedSystem(root) {
  const folders = {
    config: join(root, "config"),
    machine: join(root, "machine"),
    data: join(root, "data"),
    tmp: join(root, "tmp"),
    home: join(root, "home"),
  };
  for (const folder of Object.values(folders)) mkdirSync(folder, { recursive: true });
  return {
    ...folders,
    env: {
      XDG_CONFIG_HOME: folders.config,
      KX_MACHINE_ROOT: folders.machine,
      XDG_DATA_HOME: folders.data,
      TMPDIR: folders.tmp,
      HOME: folders.home,
    },
    userRegistry: join(folders.config, "kestrix", "registry", "HKEY_CURRENT_USER.json"),
    machineRegistry: join(folders.machine, "registry", "HKEY_LOCAL_MACHINE.json"),
    classesRegistry: join(folders.machine, "registry", "HKEY_CLASSES_ROOT.json"),
    commonDesktop: join(folders.machine, "Desktop"),
    defaultInstallFolder: join(folders.home, "kestrix"),
  };
}

// A stand-in editor package (tests/support/make_editor_package.py): {path, size, md5}.
export function makeEditorPackage(path, fillerMiB) {
  const run = spawnSync("/usr/bin/python3", [join(supportFolder, "make_editor_package.py"), path,
    "--filler-mib", String(fillerMiB)], { encoding: "utf8" });
  if (run.status !== 0) throw new Error(`the package could not be made: ${run.stderr}`);
  return JSON.parse(run.stdout);
}

// The versioned package configuration naming the package at `url` as version 2.0.
export function packageConfiguration(url, figures) {
  return JSON.stringify({
    "2.0": { big_version: "2.0", game_url: url, game_url_nos: url, md5: figures.md5, size: figures.size },
  });
}

export class InstallerWindow {
  // Opens the window a started installer announced, at the window's size.
  static async open(browser, native) {
    const context = await browser.newContext({ viewport: windowSize });
    const page = await context.newPage();
    await page.goto(await native.url);
    await page.waitForFunction(() => window.Window && Window.this && Window.this.nativeInterface);
    return new InstallerWindow(page, context);
  }

  constructor(page, context) {
    this.page = page;
    this.context = context;
  }

  // The id of the screen shown, or null.
  async screen() {
    for (const id of Object.keys(screens)) if (await this.page.locator("#" + id).isVisible()) return id;
    return null;
  }

  async waitForScreen(id, timeout = 30000) {
    await this.page.locator("#" + id).waitFor({ state: "visible", timeout });
  }

  // The space report arrives a second after the page is ready.
  async waitForSpaceReport(timeout = 20000) {
    await this.page.waitForFunction(() => !/计算中/.test(document.querySelector("#availableSpace").textContent),
      null, { timeout });
  }

  text(selector) {
    return this.page.locator(selector).innerText();
  }

  // Ticks the terms box; the install button then becomes usable.
  async acceptTerms() {
    await this.waitForSpaceReport();
    if (!(await this.page.locator("#policy").isChecked())) await this.page.locator("#policy").click();
    await this.page.locator("#chooseNext:enabled").waitFor({ timeout: 10000 });
  }

  async install() {
    await this.page.locator("#chooseNext").click();
    await this.waitForScreen("progressDiv");
  }

  async progress() {
    return this.page.evaluate(() => {
      const text = (id) => document.getElementById(id).textContent.trim();
      return { title: text("progressTitle"), percent: Number(document.getElementById("pro").value),
        value: text("progValue"), speed: text("progSpeed") };
    });
  }

  // Resolves once `test(progress)` holds; polls the page.
  async waitForProgress(test, timeout = 60000) {
    const deadline = Date.now() + timeout;
    for (;;) {
      const progress = await this.progress();
      if (test(progress)) return progress;
      if (Date.now() > deadline) throw new Error(`progress never got there: ${JSON.stringify(progress)}`);
      await this.page.waitForTimeout(100);
    }
  }

  // The title-bar close button.
  async clickClose() {
    await this.page.locator("#close").click();
  }

  async clickFinish() {
    await this.page.locator("#finishLaunch").click();
  }

  // The modal dialog once it is shown.
  async dialog(timeout = 30000) {
    const frame = this.page.frameLocator("iframe.kx-modal");
    await frame.locator("#confirm, #cancel").first().waitFor({ state: "visible", timeout });
    await frame.locator("body").evaluate(() => new Promise((resolve) => {
      if (document.readyState === "complete") resolve();
      else window.addEventListener("load", resolve);
    }));
    return new Dialog(this.page, frame);
  }

  async noDialog() {
    return (await this.page.locator("iframe.kx-modal").count()) === 0;
  }

  async screenshot(path) {
    await this.page.screenshot({ path });
  }
}

export class Dialog {
  constructor(page, frame) {
    this.page = page;
    this.frame = frame;
  }

  // {title, message, buttons}: the buttons shown in the order the page names
  // them (the cancelling one, shown on the right, first).
  async read() {
    return this.frame.locator("body").evaluate(() => {
      const shown = (id) => {
        const element = document.getElementById(id);
        return element && element.checkVisibility() ? [element.textContent.trim()] : [];
      };
      return {
        title: document.getElementById("title").textContent.trim(),
        message: document.getElementById("tipContent").textContent.trim(),
        buttons: [...shown("cancel"), ...shown("confirm")],
      };
    });
  }

  // Presses the button that reads `label`; the dialog then goes.
  async answer(label) {
    const button = this.frame.locator("#confirm, #cancel").filter({ hasText: label });
    await button.click();
    await this.page.locator("iframe.kx-modal").waitFor({ state: "detached", timeout: 10000 });
  }
}
