// The headless half of the demo: a person's installation through the window,
// told as it goes, with a screenshot of every screen and of the exit question.
import { join } from "node:path";
import { NativeProcess, exitWithin, launchBrowser } from "../../tests/browser/harness.mjs";
import { InstallerWindow, screens } from "../../tests/browser/installer_window.mjs";

const step = (text) => console.log(text);

// Installs through the window; answers how long the installation took, in seconds.
export async function driveInstallation({ installer, env, screenshots, server, packagePath }) {
  const browser = await launchBrowser();
  const native = new NativeProcess(installer, [], env);
  try {
    const window = await InstallerWindow.open(browser, native);
    const picture = async (name) => {
      const path = join(screenshots, name + ".png");
      await window.screenshot(path);
      step(`  screenshot ${path}`);
    };
    const screen = async () => {
      const id = await window.screen();
      step(`screen: ${screens[id] || "none"} (${id})`);
    };

    await screen();
    await window.waitForSpaceReport();
    step(`  folder ${await window.page.locator("#edit").inputValue()}, required ${await window.text("#requiredSpace")}, ` +
      `available ${await window.text("#availableSpace")}`);
    await picture("1-quick-install");

    await window.page.locator("#policy").click();
    step("  terms ticked (已阅读 并同意)");
    await window.page.locator("#choosePath").click();
    await window.waitForScreen("chooseDiv1");
    await screen();
    await picture("2-custom-install");
    await window.page.locator("#chooseBack").click();
    await window.waitForScreen("chooseDiv");
    await screen();

    await window.acceptTerms();
    step("  立即安装");
    const began = Date.now();
    await window.install();
    await screen();

    await followProgress(window, native, picture, server, packagePath);
    const took = (Date.now() - began) / 1000;
    await screen();
    await picture("5-finish");

    step("  立即体验");
    await window.clickFinish();
    const code = await exitWithin(native, 15000);
    step(`the window closed; the installer ended with exit code ${code}`);
    await window.context.close();
    return took;
  } finally {
    await native.stop();
    await browser.close();
  }
}

// Prints the progress as it moves until the finish screen; on the way, takes
// the progress screenshot, asks to leave and answers 取消 (the installation
// goes on), and answers any question the installer asks the way a person who
// wants the editor would.
async function followProgress(window, native, picture, server, packagePath) {
  let last = { title: "", step: -1 };
  let progressShot = false;
  let exitAsked = false;
  const deadline = Date.now() + 30 * 60000;
  while ((await window.screen()) !== "finishDiv") {
    if (!native.running) throw new Error(`the installer ended during the installation: ${native.errors}`);
    if (Date.now() > deadline) throw new Error("the installation did not finish within 30 minutes");
    if (!(await window.noDialog())) await answerQuestion(window, picture);

    const p = await window.progress();
    if (p.title !== last.title || Math.floor(p.percent / 10) !== last.step) {
      step(`  ${String(p.percent).padStart(3)}%  ${p.title}${p.speed ? "  " + p.speed : ""}`);
      last = { title: p.title, step: Math.floor(p.percent / 10) };
    }
    if (!progressShot && p.percent >= 20) {
      await picture("3-progress");
      progressShot = true;
    }
    if (!exitAsked && p.percent >= 40 && p.percent < 90) {
      exitAsked = true;
      await window.clickClose();
      const question = await window.dialog();
      const { title, message, buttons } = await question.read();
      step(`dialog: ${title}: ${message} [${buttons.join(" | ")}]`);
      await picture("4-exit-question");
      await question.answer("取消");
      step("  取消: the installation goes on");
    }
    await window.page.waitForTimeout(200);
  }
  // The segmented downloader asks whether ranges are served before it starts; aria2 does not.
  const requests = await server.requests(packagePath);
  const gets = requests.filter((r) => r.method === "GET").length;
  const engine = requests.some((r) => r.method === "HEAD") ? "the segmented downloader" : "the aria2 helper (InstallerHelper.exe)";
  step(`  the package came in ${gets} range request(s), fetched by ${engine}`);
}

async function answerQuestion(window, picture) {
  const question = await window.dialog();
  const { title, message, buttons } = await question.read();
  step(`dialog: ${title}: ${message} [${buttons.join(" | ")}]`);
  await picture("question-" + Date.now());
  const answer = buttons.includes("重试安装") ? "重试安装" : buttons.includes("确定") ? "确定" : buttons.at(-1);
  await question.answer(answer);
  step(`  ${answer}`);
}
