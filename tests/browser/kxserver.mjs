// tests/support/kxserver.py from Node: an HTTPS server on 127.0.0.1 with a CA
// of its own, scripted with routes (see the top of kxserver.py for the rules).
// It ends when stop() is called, when this process goes, or after its lifetime.
import { spawn } from "node:child_process";
import { readFileSync } from "node:fs";
import { request } from "node:https";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

export const supportFolder = join(dirname(fileURLToPath(import.meta.url)), "..", "support");

export class KxServer {
  // Starts the server; its certificates are made in (or reused from) `certFolder`.
  static async start({ certFolder, port = 0, lifetimeSeconds = 600 }) {
    const child = spawn("/usr/bin/python3", [join(supportFolder, "kxserver.py"), "--tls", "--cert-dir", certFolder,
      "--port", String(port), "--lifetime", String(lifetimeSeconds)], { stdio: ["pipe", "pipe", "pipe"] });
    let errors = "";
    child.stderr.on("data", (data) => (errors += data));
    const listening = await new Promise((resolve, reject) => {
      let output = "";
      child.stdout.on("data", (data) => {
        output += data;
        const match = /^PORT (\d+)$/m.exec(output);
        if (match) resolve(Number(match[1]));
      });
      child.on("exit", (code) => reject(new Error(`kxserver ended (${code}) before listening: ${errors}`)));
    });
    return new KxServer(child, listening, join(certFolder, "ca.pem"));
  }

  constructor(child, port, caFile) {
    this.child = child;
    this.port = port;
    this.caFile = caFile;
    this.ca = readFileSync(caFile);
    this.ended = new Promise((resolve) => child.on("exit", resolve));
  }

  get hostAndPort() {
    return `127.0.0.1:${this.port}`;
  }

  url(path) {
    return `https://${this.hostAndPort}${path}`;
  }

  route(path, rule) {
    return this.control({ routes: { [path]: rule } });
  }

  routes(pathToRule) {
    return this.control({ routes: pathToRule });
  }

  // Every request so far, oldest first; with `path`, only those for that path.
  async requests(path) {
    const all = JSON.parse(await this.send("GET", "/__requests"));
    return path === undefined ? all : all.filter((r) => r.path === path);
  }

  control(command) {
    return this.send("POST", "/__control", JSON.stringify(command));
  }

  send(method, path, body) {
    return new Promise((resolve, reject) => {
      const call = request({ host: "127.0.0.1", port: this.port, path, method, ca: this.ca, servername: "localhost" },
        (response) => {
          let text = "";
          response.setEncoding("utf8");
          response.on("data", (data) => (text += data));
          response.on("end", () => (response.statusCode === 200 ? resolve(text) : reject(new Error(text))));
        });
      call.on("error", reject);
      call.end(body);
    });
  }

  async stop() {
    if (this.child.exitCode === null) this.child.stdin.end();
    await this.ended;
  }
}
