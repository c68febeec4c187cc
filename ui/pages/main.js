// Navigation and button handlers of the main page.
import { $, on } from "@sciter";

const installBackground = "picture_bg_ins.png";

document.on("ready", () => {
  setTimeout(() => callNative("selectDirectory", $("#edit").value), 1000);
  $("#policy").state.focus = true;
});

on("change", "#edit", (event, edit) => callNative("selectDirectory", edit.value));

on("click", "#policy", () => updateInstallGate());

on("click", "#shortcut", (event, shortcut) => callNative("enableCreatePlatformLnk", shortcut.checked));

// A start waits for the native answer; a second click meanwhile must not start again.
let starting = false;
on("click", "#chooseNext, #chooseNext1", async () => {
  if (starting) return;
  starting = true;
  try {
    if ((await callNative("startInstall", $("#edit").value)) !== true) return;
  } finally {
    starting = false;
  }
  setVisible("chooseDiv", false);
  setVisible("chooseDiv1", false);
  setVisible("progressDiv", true);
  useBackground(installBackground);
});

on("click", "#choosePath", () => {
  setVisible("chooseDiv", false);
  setVisible("chooseDiv1", true);
  useBackground(installBackground);
});

on("click", "#chooseBack", () => {
  setVisible("chooseDiv1", false);
  setVisible("chooseDiv", true);
  useBackground("picture_bg.png");
});

on("click", "#change", async () => {
  const path = folderForPick(await Window.this.selectFolder(), pathSeparator());
  if (!path) return;
  $("#edit").value = path;
  callNative("selectDirectory", path);
});

on("click", "#close", async () => {
  if ($("#finishDiv").state.visible) {
    await callNative("cancelConnect");
    return;
  }
  if ((await Window.this.modal({ url: __DIR__ + "dialog.htm", alignment: -8 })) !== true) return;
  await callNative("cancelInstall");
  Window.this.close();
});

on("click", "#finishLaunch", async () => {
  await callNative("lanuchPlatform", false, $("#shortcut").checked, "Emberhold");
  Window.this.close();
});
