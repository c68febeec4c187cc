// The installer's main job on this machine (run by scripts/demo, after
// scripts/setup): a local update server on loopback serving the package
// configuration and a stand-in editor package, an installer built to use that
// server and to trust its CA, and the installer on its embedded default with
// every system location redirected into build/demo/system. On a display the
// window opens and a person installs; without one, headless Chromium installs
// through the window, saving screenshots. Either way a summary ends the run.
import { spawn, spawnSync } from "node:child_process";
import { existsSync, mkdirSync, readFileSync, rmSync } from "node:fs";
import { dirname, join, relative } from "node:path";
import { fileURLToPath } from "node:url";
import { printSummary } from "./summary.mjs";
import { driveInstallation } from "./drive.mjs";
import { KxServer } from "../../tests/browser/kxserver.mjs";
import { makeEditorPackage, packageConfigPath, packageConfiguration, redirectedSystem }
  from "../../tests/browser/installer_window.mjs";

const source = join(dirname(fileURLToPath(import.meta.url)), "..", "..");
const demo = join(source, "build", "demo");
const tree = join(demo, "build");
const tls = join(demo, "tls");
const packageMiB = Number(process.env.KX_DEMO_PACKAGE_MIB || 300);
// Per connection: the aria2 helper opens five, so the whole download takes some seconds.
const bytesPerSecond = Number(process.env.KX_DEMO_RATE || 8 * 1048576);
const packagePath = "/packages/KestrixEditor-2.0.zip";

const say = (text) => console.log("demo: " + text);
const shown = (path) => relative(source, path);

async function main() {
  const headless = !process.env.DISPLAY || process.env.KX_DEMO_HEADLESS === "1";

  mkdirSync(demo, { recursive: true });
  const packageFile = join(demo, "server", "KestrixEditor-2.0.zip");
  const reused = existsSync(packageFile + ".json");
  const figures = makeEditorPackage(packageFile, packageMiB);
  say(`package ${shown(figures.path)}: ${(figures.size / 1048576).toFixed(1)} MiB, md5 ${figures.md5}` +
    (reused ? " (reused)" : " (made)"));

  // A new certificate every run (they last two days); the build names the CA file, not its contents.
  rmSync(tls, { recursive: true, force: true });
  const server = await startServer();
  try {
    await server.routes({
      [packageConfigPath]: { body: packageConfiguration(server.url(packagePath), figures) },
      [packagePath]: { file: figures.path, rate: bytesPerSecond },
    });
    say(`update server ${server.url("")} (its own CA ${shown(server.caFile)}; ` +
      `${(bytesPerSecond / 1048576).toFixed(1)} MiB/s per connection)`);

    buildInstaller(server);
    const installer = join(tree, "bin", "KestrixSetup");

    const systemRoot = join(demo, "system");
    rmSync(systemRoot, { recursive: true, force: true });
    const system = redirectedSystem(systemRoot);
    say(`registry, desktop, trash, temporary folder and home redirected into ${shown(systemRoot)}`);

    let took = null;
    if (headless) {
      const screenshots = join(demo, "screenshots");
      rmSync(screenshots, { recursive: true, force: true });
      mkdirSync(screenshots, { recursive: true });
      say("no display: headless Chromium installs through the window");
      took = await driveInstallation({ installer, env: system.env, screenshots, server, packagePath });
      say(`screenshots in ${shown(screenshots)}`);
    } else {
      say(`display ${process.env.DISPLAY}: the installer window opens; install, then press 立即体验`);
      await runOnDesktop(installer, system.env);
    }
    await printSummary({ system, took, shown });
  } finally {
    await server.stop();
  }
}

// On the port the demo build was made for, so that it needs no rebuild; another when that one is taken.
async function startServer() {
  const cached = cachedPort();
  if (cached) {
    try {
      return await KxServer.start({ certFolder: tls, port: cached, lifetimeSeconds: 7200 });
    } catch {
      say(`port ${cached} is taken; the demo build is made again for another`);
    }
  }
  return KxServer.start({ certFolder: tls, lifetimeSeconds: 7200 });
}

function cachedPort() {
  const cache = join(tree, "CMakeCache.txt");
  if (!existsSync(cache)) return 0;
  const match = /^KX_HOST_U5:STRING=127\.0\.0\.1:(\d+)$/m.exec(readFileSync(cache, "utf8"));
  return match ? Number(match[1]) : 0;
}

// Every host role of the build (cmake/BuildConfig.cmake), so nothing leaves this machine.
function hostRoles() {
  const text = readFileSync(join(source, "cmake", "BuildConfig.cmake"), "utf8");
  const list = /set\(_kx_host_roles([\s\S]*?)\)/.exec(text);
  const roles = list ? [...list[1].matchAll(/^\s*(\w+)\s+"[^"]*"/gm)].map((m) => m[1]) : [];
  if (!roles.includes("U5")) throw new Error("the host roles were not found in cmake/BuildConfig.cmake");
  return roles;
}

function buildInstaller(server) {
  const definitions = hostRoles().map((role) => `-DKX_HOST_${role}=${server.hostAndPort}`);
  say(`building the installer in ${shown(tree)}: every host ${server.hostAndPort}, extra CA ${shown(server.caFile)}`);
  run("cmake", ["-S", source, "-B", tree, "-G", "Ninja", "-DBUILD_TESTING=OFF", `-DKX_EXTRA_CA_FILE=${server.caFile}`,
    ...definitions], { quiet: true });
  run("cmake", ["--build", tree, "--target", "KestrixSetup"]);
}

function run(program, args, { quiet = false } = {}) {
  const result = spawnSync(program, args, { stdio: quiet ? ["ignore", "ignore", "inherit"] : "inherit" });
  if (result.status !== 0) throw new Error(`${program} ${args.join(" ")} failed`);
}

function runOnDesktop(installer, env) {
  return new Promise((resolve, reject) => {
    const child = spawn(installer, [], { env: { ...process.env, ...env }, stdio: "inherit" });
    child.on("error", reject);
    child.on("exit", (code) => {
      say(`the installer ended (exit code ${code})`);
      resolve();
    });
  });
}

main().catch((error) => {
  console.error("demo: " + (error.stack || error));
  process.exit(1);
});
