// The installer's pages as the installer serves them: screens, page
// functions, the dialog and the folder picker. In the first part the page
// runs without the native side's methods (only its properties), so what is
// seen is the page's own doing, and page functions are called as the native
// side calls them. In the second part the installer built for tests talks
// to a configuration and package server on loopback.
import assert from "node:assert/strict";
import { createHash } from "node:crypto";
import { mkdirSync, readFileSync, rmSync, statSync, truncateSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { NativeProcess, exitWithin, launchBrowser, privateFolder, redirectedLocations, savePicture } from "./harness.mjs";
import { KxServer } from "./kxserver.mjs";

const product = process.env.KX_PRODUCT;
const testInstaller = process.env.KX_PAGES_INSTALLER;

// Start-up with the native side's methods taken away and its properties replaced by `properties`.
function pageAlone(properties) {
  let config;
  Object.defineProperty(globalThis, "__kxConfig", {
    configurable: true,
    get: () => config,
    set: (value) => {
      const object = value.objects.nativeInterface;
      if (object) {
        object.methods = {};
        object.properties = properties;
      }
      config = value;
    },
  });
}

let browser;
before(async () => {
  assert.ok(product, "KX_PRODUCT names the product executable");
  assert.ok(testInstaller, "KX_PAGES_INSTALLER names the installer built for tests");
  browser = await launchBrowser();
});
after(async () => browser && (await browser.close()));

// A started installer and its page, ready for a person. `alone`: without
// the native side's methods, with `properties` for its properties; `setup`
// runs in the page before its own scripts.
async function openInstaller({ alone = true, properties = { pathSeparator: "/" }, program = product, env = {}, setup } = {}) {
  const folder = privateFolder("kx-pages-");
  const native = new NativeProcess(program, [], { ...redirectedLocations(folder), ...env });
  const context = await browser.newContext({ viewport: { width: 982, height: 568 } });
  if (alone) await context.addInitScript(pageAlone, properties);
  if (setup) await context.addInitScript(setup);
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(await native.url);
  await page.waitForFunction(() => document.activeElement && document.activeElement.id === "policy");
  return {
    native,
    page,
    folder,
    async close() {
      await context.close();
      await native.stop();
      rmSync(folder, { recursive: true, force: true });
      assert.deepEqual(errors, [], "no script errors");
    },
  };
}

const dialogFrame = (page) => page.frameLocator("iframe.kx-modal");
// The open dialog's document, once its script has run.
const dialogDocument = async (page) => {
  await dialogFrame(page).locator("#title").waitFor();
  const frame = page.frames().filter((f) => f.url().endsWith("/dialog.htm") && !f.isDetached()).pop();
  await frame.waitForFunction(() => document.readyState === "complete");
  return frame;
};
const visibleScreens = (page) =>
  page.evaluate(() => ["chooseDiv", "chooseDiv1", "progressDiv", "finishDiv"].filter((id) => document.getElementById(id).state.visible));

describe("installer pages", { timeout: 240000 }, () => {
  const openDialog = (page, parameters) =>
    page.evaluate((p) => {
      window.answers ??= [];
      const index = window.answers.length;
      window.answers.push("pending");
      const options = { url: __DIR__ + "dialog.htm", alignment: -8 };
      if (p) options.parameters = p;
      Window.this.modal(options).then((value) => (window.answers[index] = value === undefined ? "none" : value));
      return index;
    }, parameters);
  const answerOf = (page, index) =>
    page.waitForFunction((i) => window.answers[i] !== "pending" && { value: window.answers[i] }, index)
      .then((handle) => handle.jsonValue()).then((answer) => answer.value);

  // What a person sees of the elements `selectors` name, in window pixels.
  const facts = (frame, selectors) =>
    frame.evaluate((list) => list.map((selector) => {
      const element = document.querySelector(selector);
      const box = element.getBoundingClientRect();
      const style = getComputedStyle(element);
      return {
        selector,
        box: [box.x, box.y, box.width, box.height, box.right].map(Math.round),
        text: element.textContent.replace(/\s+/g, " ").trim(),
        visible: element.checkVisibility({ checkVisibilityCSS: true }),
        color: style.color,
        size: style.fontSize,
      };
    }), selectors);

  const rgb = (hex) => `rgb(${parseInt(hex.slice(1, 3), 16)}, ${parseInt(hex.slice(3, 5), 16)}, ${parseInt(hex.slice(5, 7), 16)})`;

  // Screen by screen: [selector, [x, y, width, height, right edge] (null or left out: not checked), text,
  // colour, font size].
  const layouts = {
    chooseDiv: [
      ["#chooseDiv .logo", [402, 91, 190, 165], ""],
      ["#chooseNext", [709, 438, 250, 70], "立即安装", "#B4B4B4", "20px"],
      [".policyRow", [31, 486, null, 20], "已阅读 并同意 《用户协议》"],
      ["#policy", [31, 486, 20, 20], ""],
      ["label:has(#policy)", null, "已阅读 并同意", "#FFFFFF", "13px"],
      [".policyRow a", null, "《用户协议》", "#D4AD63", "12px"],
      ["#choosePath", [null, 486, null, 20, 690], "自定义安装", "#595855", "12px"],
    ],
    chooseDiv1: [
      [".platformLogo", [441, 30, 116, 122], ""],
      ["#chooseDiv1 .panel", [14, 199, 955, 234], null],
      [".panelTitle", [59, 219, null, null], "安装路径", "#FFFFFF", "16px"],
      [".spaceRow", [59, 252, null, null], "所需空间：计算中HHH可用空间：计算中", "#666561", "14px"],
      ["#requiredSpace", null, "计算中", "#666561", "14px"],
      ["#availableCaption", null, "可用空间：", "#666561", "14px"],
      ["#availableSpace", null, "计算中", "#666561", "14px"],
      ["#edit", [59, 284, null, 26], "", "#D9D7CE", "13px"],
      ["#change", [833, 284, 90, 26], "更改地址", "#B3B1AA", "13px"],
      [".shortcutRow", [57, 326, null, 20], "添加桌面快捷方式", "#FFFFFF", "13px"],
      ["#chooseNext1", [706, 456, 112, 40], "立即安装", null, "13px"],
      ["#chooseBack", [834, 456, 112, 40], "上一步", "#B3B1AA", "13px"],
    ],
    progressDiv: [
      ["#progressDiv .logo", [402, 91, 190, 165], ""],
      ["#progressTitle", [51, 457, 300, 23], "准备中，请稍等...", "#A8ABB2", "12px"],
      ["#progSpeed", [828, 457, 100, null], "--"],
      [".progressTrack", [47, 477, 887, 8], "0%"],
      ["#pro", [47, 477, 887, 8], ""],
    ],
    finishDiv: [
      [".finishPicture", [429, 130, 144, 119], ""],
      ["#finishLaunch", [339, 442, 320, 58], "立即体验", "#FFFFFF", "21px"],
    ],
  };
  const dialogLayout = [
    ["#title", [44, 37, null, null], "退出安装程序", "#AEA888", "18px"],
    [".dialogPicture", [405, 158, 172, 172], ""],
    ["#tipContent", [0, 322, 982, null], "您确定要退出“kestrix编辑器”安装程序吗？", "#B3B1AA", "20px"],
    ["#confirm", [706, 495, 112, 40], "确认", "#381B0E", "13px"],
    ["#cancel", [834, 495, 112, 40], "取消", "#B3B1AA", "13px"],
  ];

  const checkLayout = async (frame, rows, where) => {
    const seen = await facts(frame, rows.map(([selector]) => selector));
    rows.forEach(([selector, box, text, color, size], i) => {
      const fact = seen[i];
      const label = `${where} ${selector}`;
      assert.ok(fact.visible, `${label} is visible`);
      if (box) box.forEach((value, k) => value === null || assert.equal(fact.box[k], value, `${label} box ${fact.box}`));
      if (text !== null) assert.equal(fact.text, text, label);
      if (color) assert.equal(fact.color, rgb(color), `${label} colour`);
      if (size) assert.equal(fact.size, size, `${label} font size`);
    });
  };

  it("lays out every screen and the dialog as designed, in a font that has the Chinese characters", async () => {
    const installer = await openInstaller();
    const { page } = installer;
    try {
      const shown = await page.evaluate(() => {
        const root = document.documentElement;
        return {
          title: document.title,
          attributes: ["window-frame", "window-width", "window-height", "window-resizable", "window-icon"].map((a) => root.getAttribute(a)),
          header: document.querySelector("header").getBoundingClientRect().height,
          buttons: [...document.querySelectorAll("header button")].map((b) => [b.getAttribute("role"), b.id, b.getBoundingClientRect().width, b.getBoundingClientRect().height]),
          caption: document.querySelector('[role="window-caption"]').textContent,
          agreement: [document.querySelector(".policyRow a").href, document.querySelector(".policyRow a").target],
          policy: [document.getElementById("policy").checked, document.getElementById("shortcut").checked],
          disabled: ["chooseNext", "chooseNext1", "choosePath"].map((id) => document.getElementById(id).state.disabled),
          edit: [getComputedStyle(document.getElementById("edit")).width, getComputedStyle(document.getElementById("edit")).height],
          progress: [document.getElementById("pro").value, document.getElementById("pro").max],
          canInstall,
        };
      });
      assert.deepEqual(shown, {
        title: "Kestrix编辑器下载器",
        attributes: ["transparent", "982px", "568px", "false", "image/icon.ico"],
        header: 32,
        buttons: [["window-minimize", "", 20, 20], ["close", "close", 20, 20]],
        caption: "",
        agreement: ["https://www.kestrix.invalid/user-agreement", "@system"],
        policy: [false, true],
        disabled: [true, true, true],
        edit: ["760px", "20px"],
        progress: [0, 100],
        canInstall: false,
      });
      assert.deepEqual(await visibleScreens(page), ["chooseDiv"]);

      // The Chinese texts are drawn with the Chinese font the set-up installs, not with stand-in boxes.
      const cdp = await page.context().newCDPSession(page);
      await cdp.send("DOM.enable");
      await cdp.send("CSS.enable");
      const fontsOf = async (selector) => {
        const { root } = await cdp.send("DOM.getDocument");
        const { nodeId } = await cdp.send("DOM.querySelector", { nodeId: root.nodeId, selector });
        const { fonts } = await cdp.send("CSS.getPlatformFontsForNode", { nodeId });
        return fonts.map((font) => font.familyName);
      };
      const chineseTexts = {
        chooseDiv: ["#chooseNext", "label:has(#policy) span"],
        chooseDiv1: [".panelTitle", "#chooseBack"],
        progressDiv: ["#progressTitle"],
        finishDiv: ["#finishLaunch"],
      };
      for (const [screen, rows] of Object.entries(layouts)) {
        await page.evaluate((shown) => {
          for (const id of ["chooseDiv", "chooseDiv1", "progressDiv", "finishDiv"]) setVisible(id, id === shown);
        }, screen);
        await checkLayout(page, rows, screen);
        for (const selector of chineseTexts[screen]) assert.deepEqual(await fontsOf(selector), ["WenQuanYi Micro Hei"], selector);
        await savePicture(page, `screen-${screen}`);
      }
      await cdp.detach();
      assert.equal(await page.locator("#progValue").isVisible(), false, "the percentage label stays hidden");

      await page.evaluate(() => setVisible("progressDiv", true));
      await openDialog(page);  // the exit question: no parameters
      await checkLayout(await dialogDocument(page), dialogLayout, "dialog");
      await savePicture(page, "dialog-exit");
      await dialogFrame(page).locator("#cancel").click();
    } finally {
      await installer.close();
    }
  });

  it("moves between the screens on clicks and on the native side's reports", async () => {
    const installer = await openInstaller();
    const { page } = installer;
    const background = () => page.evaluate(() => getComputedStyle(document.documentElement).backgroundImage.replace(/^.*\//, "").replace(/"\)$/, ""));
    try {
      assert.equal(await background(), "picture_bg.png");
      await page.click("#choosePath", { force: true });
      assert.deepEqual(await visibleScreens(page), ["chooseDiv"], "a disabled link does nothing");
      await page.click("label:has(#policy)");
      assert.equal(await page.evaluate(() => document.getElementById("choosePath").state.disabled), false);
      await page.click("#choosePath");
      assert.deepEqual(await visibleScreens(page), ["chooseDiv1"]);
      assert.equal(await background(), "picture_bg_ins.png");
      await page.click("#chooseBack");
      assert.deepEqual(await visibleScreens(page), ["chooseDiv"]);
      assert.equal(await background(), "picture_bg.png");

      await page.evaluate(() => updateSelectDirectory("/srv/games/kestrix"));
      assert.equal(await page.inputValue("#edit"), "/srv/games/kestrix");

      // A map background stays whatever screen is shown.
      await page.evaluate(() => setbgImage("image/picture_bg_dialog.png", "Emberhold", 1, 2, 3));
      assert.equal(await page.evaluate(() => document.documentElement.getAttribute("customBg")), "Emberhold");
      await page.click("#choosePath");
      assert.equal(await background(), "picture_bg_dialog.png");
      await page.click("#chooseBack");
      assert.equal(await background(), "picture_bg_dialog.png");

      await page.evaluate(() => {
        setVisible("chooseDiv", false);
        setVisible("progressDiv", true);
      });
      await page.evaluate(() => onInstallFinish());
      assert.deepEqual(await visibleScreens(page), ["finishDiv"]);
    } finally {
      await installer.close();
    }

    const restarted = await openInstaller();
    try {
      await restarted.page.evaluate(() => installFinished("/opt/kestrix"));
      assert.deepEqual(await visibleScreens(restarted.page), ["finishDiv"]);
      assert.equal(await restarted.page.inputValue("#edit"), "/opt/kestrix");
    } finally {
      await restarted.close();
    }
  });

  it("enables the install buttons only with the terms accepted and room enough", async () => {
    const installer = await openInstaller();
    const { page } = installer;
    const state = () => page.evaluate(() => ({
      next: !document.getElementById("chooseNext").state.disabled,
      next1: !document.getElementById("chooseNext1").state.disabled,
      path: !document.getElementById("choosePath").state.disabled,
      space: document.getElementById("availableSpace").textContent,
      colors: [getComputedStyle(document.getElementById("availableSpace")).color,
               getComputedStyle(document.getElementById("availableCaption")).color],
    }));
    const grey = [rgb("#666561"), rgb("#666561")];
    const red = [rgb("#FF3D3D"), rgb("#FF3D3D")];
    const tick = () => page.click("label:has(#policy)");
    // [step, expected afterwards]
    const steps = [
      [tick, { next: false, next1: false, path: true, space: "计算中", colors: grey }],
      [() => page.evaluate(() => setDiskSpace(53687091200, true)), { next: true, next1: true, path: true, space: "50.0GB", colors: grey }],
      [tick, { next: false, next1: false, path: false, space: "50.0GB", colors: grey }],
      [tick, { next: true, next1: true, path: true, space: "50.0GB", colors: grey }],
      [() => page.evaluate(() => setDiskSpace(1048576, false)), { next: false, next1: false, path: true, space: "1.0MB 磁盘空间不足", colors: red }],
      [tick, { next: false, next1: false, path: false, space: "1.0MB 磁盘空间不足", colors: red }],
      [() => page.evaluate(() => setDiskSpace(1073741824, true)), { next: false, next1: false, path: false, space: "1.0GB", colors: grey }],
      [tick, { next: true, next1: true, path: true, space: "1.0GB", colors: grey }],
      [() => page.evaluate(() => pathIsInvalid(false)), { next: false, next1: false, path: true, space: "0GB 路径错误", colors: red }],
      [tick, { next: false, next1: false, path: false, space: "0GB 路径错误", colors: red }],
      [tick, { next: false, next1: false, path: true, space: "0GB 路径错误", colors: red }],
    ];
    try {
      for (const [i, [step, expected]] of steps.entries()) {
        await step();
        assert.deepEqual(await state(), expected, `after step ${i + 1}`);
      }
      assert.equal(await page.evaluate(() => canInstall), false);
    } finally {
      await installer.close();
    }
  });

  it("writes sizes and speeds as the screens show them", async () => {
    const installer = await openInstaller();
    const { page } = installer;
    try {
      const sizes = [[0, "0B"], [1023, "1023B"], [1024, "1.0KB"], [1536, "1.5KB"], [1048575, "1024.0KB"],
                     [1048576, "1.0MB"], [1073741823, "1024.0MB"], [5 * 1073741824, "5.0GB"]];
      for (const [bytes, text] of sizes) {
        assert.equal(await page.evaluate((b) => (setPackageSpace(b), document.getElementById("requiredSpace").textContent), bytes), text, `size ${bytes}`);
        assert.equal(await page.evaluate((b) => (setDiskSpace(b, true), document.getElementById("availableSpace").textContent), bytes), text, `free ${bytes}`);
      }
      const speeds = [[0, ""], [1024, ""], [1025, "1.00KB/s"], [1048576, "1024.00KB/s"], [1048577, "1.00MB/s"], [5452595, "5.20MB/s"]];
      for (const [speed, text] of speeds) {
        const shown = await page.evaluate((s) => {
          updateDownloadProgress(42, s, true);
          return ["progressTitle", "progSpeed", "progValue"].map((id) => document.getElementById(id).textContent).concat(document.getElementById("pro").value);
        }, speed);
        assert.deepEqual(shown, ["kestrix编辑器下载中...", text, "42%", 42], `speed ${speed}`);
      }
      const progress = await page.evaluate(() => {
        const read = () => ["progressTitle", "progSpeed", "progValue"].map((id) => document.getElementById(id).textContent).concat(document.getElementById("pro").value);
        const seen = [];
        updateDownloadProgress(-1, 0);
        seen.push(read());
        updateDownloadProgress(101, 2048);
        seen.push(read());
        updateInstallProgress(97, true);
        seen.push(read());
        updateInstallProgress(-3, true);
        seen.push(read());
        return seen;
      });
      assert.deepEqual(progress, [
        ["kestrix编辑器下载中...", "0KB/s", "42%", 42],
        ["kestrix编辑器下载中...", "0KB/s", "42%", 42],
        ["kestrix编辑器安装中...", "", "97%", 97],
        ["kestrix编辑器安装中...", "", "97%", 97],
      ]);
    } finally {
      await installer.close();
    }
  });

  it("shows a dialog's texts and buttons as asked and answers how it was closed", async () => {
    const installer = await openInstaller();
    const { page } = installer;
    const dialog = dialogFrame(page);
    // [parameters, texts shown [title, message, confirm, cancel] (null: hidden), how it is closed, answer]
    const cases = [
      [{ title: "网络丢失", message: "网络连接中断请重试下载安装", buttons: ["退出", "重试安装"] },
       ["网络丢失", "网络连接中断请重试下载安装", "重试安装", "退出"], "#confirm", true],
      [{ title: "错误", message: "抱歉文件检测失败，请重新下载。", buttons: ["取消", "确定"] },
       ["错误", "抱歉文件检测失败，请重新下载。", "确定", "取消"], "#cancel", false],
      [{ title: "错误", message: "目标文件夹创建失败，请重新下载。", buttons: ["确定"] },
       ["错误", "目标文件夹创建失败，请重新下载。", "确定", null], "#confirm", true],
      [{ title: "错误", message: "获取配置信息失败，请稍后重试。", buttons: [] },
       ["错误", "获取配置信息失败，请稍后重试。", null, null], "Escape", "none"],
      [undefined, ["退出安装程序", "您确定要退出“kestrix编辑器”安装程序吗？", "确认", "取消"], ".dialogClose", "none"],
      [undefined, ["退出安装程序", "您确定要退出“kestrix编辑器”安装程序吗？", "确认", "取消"], "Escape", "none"],
    ];
    try {
      for (const [i, [parameters, texts, closeBy, answer]] of cases.entries()) {
        const index = await openDialog(page, parameters);
        const shown = await (await dialogDocument(page)).evaluate(() => ["title", "tipContent", "confirm", "cancel"].map((id) => {
          const element = document.getElementById(id);
          return element.checkVisibility() ? element.textContent : null;
        }));
        assert.deepEqual(shown, texts, `dialog ${i + 1}`);
        if (i < 3) await savePicture(page, `dialog-${i + 1}`);
        if (closeBy === "Escape") await dialog.locator("body").press("Escape");
        // The close button has no size to click; the click ends its frame, hence the later run.
        else if (closeBy === ".dialogClose") await dialog.locator(closeBy).evaluate((button) => setTimeout(() => button.click()));
        else await dialog.locator(closeBy).click();
        assert.equal(await answerOf(page, index), answer, `dialog ${i + 1} answer`);
        assert.equal(await page.locator("iframe.kx-modal").count(), 0);
      }
    } finally {
      await installer.close();
    }
  });

  it("fills the folder field from the picker with the folder picked and the product folder", async () => {
    const rule = [
      ["file:///", "/", "/kestrix"],
      ["file:///home/ann", "/", "/home/ann/kestrix"],
      ["file:///home/ann/", "/", "/home/ann/kestrix"],
      ["file:///home/ann/%E6%B8%B8%E6%88%8F%20100%25", "/", "/home/ann/游戏 100%/kestrix"],
      ["file://D:/", "\\", "D:\\kestrix"],
      ["file://D:/Games", "\\", "D:\\Games\\kestrix"],
      ["file://D:/Games/Sub", "\\", "D:\\Games\\Sub\\kestrix"],
      [undefined, "/", ""],
    ];
    const installer = await openInstaller();
    const { page } = installer;
    const root = privateFolder("kx-picker-");
    mkdirSync(join(root, "游戏 盘"));
    try {
      for (const [url, separator, folder] of rule)
        assert.equal(await page.evaluate(([u, s]) => folderForPick(u, s), [url, separator]), folder, `${url} with ${separator}`);

      // Through the picker a person sees.
      await page.click("label:has(#policy)");
      await page.click("#choosePath");
      const before = await page.inputValue("#edit");
      await page.click("#change");
      await page.fill(".kx-picker-path", root);
      await page.press(".kx-picker-path", "Enter");
      await page.click('.kx-picker-list li[data-name="游戏 盘"]');
      await savePicture(page, "folder-picker");
      await page.click(".kx-picker-ok");
      await page.waitForFunction((b) => document.getElementById("edit").value !== b, before);
      assert.equal(await page.inputValue("#edit"), join(root, "游戏 盘", "kestrix"));

      await page.click("#change");
      await page.click(".kx-picker-cancel");
      assert.equal(await page.inputValue("#edit"), join(root, "游戏 盘", "kestrix"), "cancelled: the field keeps its folder");
    } finally {
      rmSync(root, { recursive: true, force: true });
      await installer.close();
    }
  });

  it("starts with the native side's default folder, or the built-in one when it has none", async () => {
    const cases = [
      [{ pathSeparator: "/", defaultInstallFolder: "/home/ann/kestrix" }, "/home/ann/kestrix"],
      [{}, "C:\\Program Files\\kestrix"],
    ];
    for (const [properties, folder] of cases) {
      const installer = await openInstaller({ properties });
      try {
        assert.equal(await installer.page.inputValue("#edit"), folder, JSON.stringify(properties));
      } finally {
        await installer.close();
      }
    }
  });

  it("keeps the progress screen when a failed check is answered 确定 and closes the window on 取消", async () => {
    for (const [button, closes] of [["#confirm", false], ["#cancel", true]]) {
      const installer = await openInstaller();
      const { page, native } = installer;
      try {
        await page.evaluate(() => {
          setVisible("chooseDiv", false);
          setVisible("progressDiv", true);
          onCheckFileErr("md5 mismatch");
        });
        await dialogFrame(page).locator(button).click();
        if (closes) {
          assert.equal(await exitWithin(native, 5000), 0);
        } else {
          await page.locator("iframe.kx-modal").waitFor({ state: "detached" });
          // A close the page had asked for would reach native code before this round trip.
          const roundTrip = page.evaluate(() => __kx.request({ t: "engine", name: "pickerList", args: ["/"] }));
          const outcome = await Promise.race([roundTrip.then(() => "running", () => "closed"), native.exited.then(() => "closed")]);
          assert.equal(outcome, "running", "the installer goes on");
          assert.deepEqual(await visibleScreens(page), ["progressDiv"]);
        }
      } finally {
        await installer.close();
      }
    }
  });

  it("asks about a disk that stopped the download: 重试 starts again with the folder, 退出 cancels and closes", async () => {
    for (const [full, button, message] of [
      [true, "#confirm", "磁盘空间不足，请清理磁盘后重试。"],
      [false, "#cancel", "目标文件夹无法写入，请检查后重试。"]]) {
      const installer = await openInstaller();
      const { page, native } = installer;
      try {
        await page.evaluate((full) => {
          window.nativeCalls = [];
          callNative = (name, ...args) => (window.nativeCalls.push([name, ...args]), Promise.resolve(true));
          setVisible("chooseDiv", false);
          setVisible("progressDiv", true);
          onDiskError(full);
        }, full);
        const shown = await (await dialogDocument(page)).evaluate(() =>
          ["title", "tipContent", "cancel", "confirm"].map((id) => document.getElementById(id).textContent));
        assert.deepEqual(shown, ["错误", message, "退出", "重试"]);
        await dialogFrame(page).locator(button).click();
        if (button === "#cancel") {
          assert.equal(await exitWithin(native, 5000), 0);
          continue;
        }
        await page.locator("iframe.kx-modal").waitFor({ state: "detached" });
        const edit = await page.locator("#edit").inputValue();
        assert.deepEqual(await page.evaluate(() => window.nativeCalls), [["startInstall", edit]]);
        assert.deepEqual(await visibleScreens(page), ["progressDiv"]);
      } finally {
        await installer.close();
      }
    }
  });
});

// Records when the install buttons change and when space reports arrive, in ms after the page was ready.
function recordGate() {
  window.gateEvents = [];
  document.addEventListener("DOMContentLoaded", () => {
    const readyAt = performance.now();
    const at = () => performance.now() - readyAt;
    const next = document.getElementById("chooseNext");
    const space = document.getElementById("availableSpace");
    // One observer, so that changes made in one task are logged in the order they were made.
    const observer = new MutationObserver((records) => {
      for (const record of records) {
        if (record.target === next) window.gateEvents.push({ at: at(), enabled: !next.disabled, policy: document.getElementById("policy").checked });
        else window.gateEvents.push({ at: at(), report: space.textContent });
      }
    });
    observer.observe(next, { attributes: true, attributeFilter: ["disabled"] });
    observer.observe(space, { childList: true, characterData: true, subtree: true });
  });
}

describe("installer pages with the native side", { timeout: 240000 }, () => {
  let scratch;
  let server;
  let packageFile;
  before(async () => {
    scratch = privateFolder("kx-pages-server-");
    server = await KxServer.start({ certFolder: join(scratch, "certs") });
    packageFile = join(scratch, "kestrix.zip");
    writeFileSync(packageFile, "");
    truncateSync(packageFile, 32 * 1048576);
  });
  after(async () => {
    await server?.stop();
    if (scratch) rmSync(scratch, { recursive: true, force: true });
  });

  // The package configuration names a package of `size` bytes on the test server.
  const serve = (size, packageRule = { file: packageFile }) => server.control({
    reset: true,
    routes: {
      "/pl/up1_patchlist_produp5": {
        body: JSON.stringify({ game_url: server.url("/kestrix.zip"), md5: createHash("md5").update(readFileSync(packageFile)).digest("hex"),
                               big_version: "2.0", size }),
      },
      "/kestrix.zip": packageRule,
    },
  });
  const openWithServer = (setup) =>
    openInstaller({ alone: false, program: testInstaller, env: { KX_TEST_HOST: server.hostAndPort, KX_TEST_CA_FILE: server.caFile }, setup });
  const gate = (page) => page.evaluate(() => ({
    next: !document.getElementById("chooseNext").disabled,
    next1: !document.getElementById("chooseNext1").disabled,
    path: !document.getElementById("choosePath").disabled,
    required: document.getElementById("requiredSpace").textContent,
    space: document.getElementById("availableSpace").textContent,
    red: getComputedStyle(document.getElementById("availableSpace")).color === "rgb(255, 61, 61)" &&
         getComputedStyle(document.getElementById("availableCaption")).color === "rgb(255, 61, 61)",
  }));
  const spaceShown = (page, test) => page.waitForFunction(test, null, { timeout: 30000 });
  const tick = (page) => page.click("label:has(#policy)");

  it("enables the install buttons only after a space report that says enough, with the terms accepted", async () => {
    await serve(1048576);
    const installer = await openWithServer(recordGate);
    const { page } = installer;
    try {
      assert.equal(await page.inputValue("#edit"), join(installer.folder, "home", "kestrix"), "the native side's default folder");
      await tick(page);
      await spaceShown(page, () => document.getElementById("availableSpace").textContent !== "计算中");
      const events = await page.evaluate(() => window.gateEvents);
      const firstReport = events.find((e) => "report" in e);
      assert.ok(firstReport.at >= 1000, `the first space report comes a second after the page is ready (${firstReport.at} ms)`);
      for (const event of events.filter((e) => e.enabled))
        assert.ok(event.at >= firstReport.at && event.policy, `enabled only after the report, with the terms ticked: ${JSON.stringify(events)}`);
      const enough = await gate(page);
      assert.deepEqual({ ...enough, space: undefined }, { next: true, next1: true, path: true, required: "2.0MB", space: undefined, red: false });
      assert.match(enough.space, /^\d+\.\dGB$|^\d+\.\dMB$/);

      await tick(page);
      assert.deepEqual(await gate(page), { ...enough, next: false, next1: false, path: false }, "unticked");
      await tick(page);

      await page.click("#choosePath");
      await page.fill("#edit", "Q:\\games\\kestrix");  // a drive this system does not have
      await page.press("#edit", "Tab");
      await spaceShown(page, () => document.getElementById("availableSpace").textContent === "0GB 路径错误");
      assert.deepEqual(await gate(page), { ...enough, next: false, next1: false, space: "0GB 路径错误", red: true });

      await page.fill("#edit", join(installer.folder, "home", "games", "kestrix"));
      await page.press("#edit", "Tab");
      await spaceShown(page, () => document.getElementById("availableSpace").textContent !== "0GB 路径错误");
      assert.deepEqual((await gate(page)).next1, true, "a usable folder again");
      await savePicture(page, "native-custom-install");
    } finally {
      await installer.close();
    }
  });

  it("keeps the install buttons disabled when the package needs more room than the volume has", async () => {
    await serve(2 ** 52);
    const installer = await openWithServer();
    const { page } = installer;
    try {
      await tick(page);
      await spaceShown(page, () => document.getElementById("availableSpace").textContent !== "计算中");
      const shown = await gate(page);
      assert.deepEqual({ ...shown, space: undefined }, { next: false, next1: false, path: true, required: "8388608.0GB", space: undefined, red: true });
      assert.match(shown.space, / 磁盘空间不足$/);
    } finally {
      await installer.close();
    }
  });

  it("asks before leaving a running installation: 取消 keeps it going, 确认 cancels it and closes the window", async () => {
    const size = statSync(packageFile).size;
    await serve(size, { file: packageFile, rate: 262144 });
    const installer = await openWithServer();
    const { page, native } = installer;
    const progress = () => page.evaluate(() => document.getElementById("pro").value);
    try {
      await tick(page);
      await page.waitForFunction(() => !document.getElementById("chooseNext").disabled, null, { timeout: 30000 });
      await page.click("#chooseNext");
      await page.waitForFunction(() => document.getElementById("pro").value >= 1, null, { timeout: 30000 });
      assert.deepEqual(await visibleScreens(page), ["progressDiv"]);
      assert.equal(await page.textContent("#progressTitle"), "kestrix编辑器下载中...");
      await savePicture(page, "native-downloading");

      await page.click("#close");
      await dialogFrame(page).locator("#cancel").click();
      await page.locator("iframe.kx-modal").waitFor({ state: "detached" });
      const before = await progress();
      await page.waitForFunction((p) => document.getElementById("pro").value > p, before, { timeout: 30000 });
      assert.ok(native.running, "取消: the installation goes on");

      await page.click("#close");
      await dialogFrame(page).locator("#confirm").click();
      assert.equal(await exitWithin(native, 15000), 0);
      const sent = (await server.requests()).filter((r) => r.path === "/kestrix.zip").reduce((sum, r) => sum + r.sent, 0);
      assert.ok(sent < size, `确认: the download stopped (${sent} of ${size} bytes sent)`);
    } finally {
      await installer.close();
    }
  });
});
