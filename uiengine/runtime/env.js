// Module "@env": facts of the process and the user's environment.
const config = globalThis.__kx.config;
export const PLATFORM = "Linux";
export const OS = navigator.platform;
// The process arguments as the native side received them.
export const argv = Object.freeze([...config.argv]);
export const language = () => (navigator.language || "en").split("-")[0];
export const country = () => (navigator.language || "").split("-")[1] || "";
export default { PLATFORM, OS, argv, language, country };
