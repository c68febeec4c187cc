// Module "@sys": file system access, when the native side allowed file I/O
// to scripts (otherwise each call rejects).
const kx = globalThis.__kx;
export const fs = Object.freeze({
  // Promise of [{name, folder}] for the folder at `path`.
  readdir: async (path) => (await kx.request({ t: "engine", name: "readdir", args: [String(path)] })).entries,
});
export default { fs };
