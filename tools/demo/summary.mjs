// What an installation left on this machine, read from the redirected system
// folders: the editor, the registry values, the shortcuts, the time it took and
// what the editor recorded when it was started.
import { spawnSync } from "node:child_process";
import { existsSync, readFileSync, readdirSync, statSync } from "node:fs";
import { join } from "node:path";
import { poll } from "../../tests/browser/harness.mjs";

const line = (text = "") => console.log(text);

// `took` is null when a person installed on a desktop; headless, the finish
// button was pressed and the editor's record is waited for.
export async function printSummary({ system, took, shown }) {
  line();
  line("summary");
  const hives = [
    ["HKEY_CURRENT_USER", system.userRegistry],
    ["HKEY_LOCAL_MACHINE", system.machineRegistry],
    ["HKEY_CLASSES_ROOT", system.classesRegistry],
  ];
  const user = readHive(system.userRegistry);
  const editorKey = Object.keys(user).find((key) => /^SOFTWARE\\Marrowin\\KestrixEditor\\/i.test(key));
  const folder = editorKey ? user[editorKey].EditorPath : system.defaultInstallFolder;
  const game = editorGame(folder);

  if (game) {
    const { files, bytes } = tally(game);
    line(`  editor installed: ${join(game, "Editor.exe")} (${files} files, ${(bytes / 1048576).toFixed(1)} MiB)`);
  } else {
    line(`  no editor in ${folder}`);
  }

  line("  registry values written:");
  for (const [root, file] of hives) {
    for (const [key, values] of Object.entries(readHive(file))) {
      for (const [name, data] of Object.entries(values)) line(`    ${root}\\${key}  ${name || "(default)"} = ${data}`);
    }
  }

  const links = [system.commonDesktop, join(system.home, "Desktop")].flatMap((desktop) =>
    existsSync(desktop) ? readdirSync(desktop).filter((n) => n.endsWith(".lnk")).map((n) => join(desktop, n)) : []);
  if (links.length === 0) line("  shortcut: none");
  for (const link of links) line(`  shortcut: ${shown(link)} -> ${linkTarget(link)}`);

  if (took !== null) line(`  the installation took ${took.toFixed(1)} s (from 立即安装 to the finish screen)`);

  const record = game && join(game, "started.txt");
  if (record && took !== null) await poll(() => existsSync(record), 10000).catch(() => {});
  if (record && existsSync(record)) {
    line(`  the editor recorded when it was started (${record}):`);
    for (const text of readFileSync(record, "utf8").trimEnd().split("\n")) line("    " + text);
  } else {
    line("  the editor has not been started");
  }
}

function readHive(file) {
  return existsSync(file) ? JSON.parse(readFileSync(file, "utf8")) : {};
}

// The version folder's "game" that holds Editor.exe, whatever the case of "games".
function editorGame(folder) {
  if (!folder || !existsSync(folder)) return null;
  for (const games of readdirSync(folder).filter((n) => n.toLowerCase() === "games")) {
    for (const version of readdirSync(join(folder, games))) {
      const game = join(folder, games, version, "game");
      if (existsSync(join(game, "Editor.exe"))) return game;
    }
  }
  return null;
}

function tally(folder) {
  let files = 0;
  let bytes = 0;
  for (const entry of readdirSync(folder, { withFileTypes: true, recursive: true })) {
    if (!entry.isFile()) continue;
    files += 1;
    bytes += statSync(join(entry.parentPath ?? entry.path, entry.name)).size;
  }
  return { files, bytes };
}

// The target Debian's lnkinfo reads from a .lnk file.
function linkTarget(link) {
  const listing = spawnSync("lnkinfo", [link], { encoding: "utf8" });
  const match = /^\s*Local path\s*:\s*(.*)$/m.exec(listing.stdout || "");
  return match ? match[1].trim() : "(unreadable)";
}
