// Engine runtime of every served page, run before the page's own scripts:
// Window.this, the live channel to native code, modal dialogs, the folder
// picker and the element helpers the pages use.
//
// Channel messages (JSON text), page to native:
//   {t:"call", id, object, name, args}   a method of an exposed object
//   {t:"engine", id, name, args}         an engine operation (folder listing)
//   {t:"result", id, value | error}      the answer to an "invoke"
//   {t:"ready"}                          the page's scripts have run
//   {t:"close", value}                   Window.this.close(value)
//   {t:"activity", focused, visible, screen:[w,h]}  the window's focus, visibility
//                                        or screen changed (screen in device pixels)
// native to page:
//   {t:"ret", id, value | error}         the answer to "call" / "engine"
//   {t:"invoke", id, name, args}         call the global function `name`
//   {t:"navigate", url}, {t:"close"}
// A value left out is undefined; {"$error": text} is an error.
(() => {
  "use strict";
  const config = globalThis.__kxConfig || { objects: {}, media: "", features: 0, argv: [] };
  const modalFrame = window.frameElement && window.frameElement.__kxModal;
  const opener = modalFrame ? window.parent.__kx : null;

  const toWire = (value) => {
    if (value instanceof Error) return { $error: String(value.message) };
    if (value === undefined || typeof value === "function" || typeof value === "symbol") return null;
    if (typeof value === "number" && !Number.isFinite(value)) return null;
    if (Array.isArray(value)) return value.map(toWire);
    if (value && typeof value === "object") {
      const out = {};
      for (const [key, item] of Object.entries(value)) out[key] = toWire(item);
      return out;
    }
    return value;
  };
  const fromWire = (value) => {
    if (Array.isArray(value)) return value.map(fromWire);
    if (value && typeof value === "object") {
      if (Object.keys(value).length === 1 && typeof value.$error === "string") return new Error(value.$error);
      const out = {};
      for (const [key, item] of Object.entries(value)) out[key] = fromWire(item);
      return out;
    }
    return value;
  };

  // --- the live channel (main page only; dialogs use their opener's) ---
  let socket = null;
  let connected = false;
  let nextId = 1;
  const outgoing = [];
  const waiting = new Map();

  const post = (message) => {
    if (connected) socket.send(JSON.stringify(message));
    else outgoing.push(message);
  };
  const request = (message) =>
    new Promise((resolve, reject) => {
      const id = nextId++;
      waiting.set(id, { resolve, reject });
      post({ ...message, id });
    });

  const invoke = (message) => {
    const answer = (fields) => post({ t: "result", id: message.id, ...fields });
    const fail = (error) => answer({ error: String(error && error.message !== undefined ? error.message : error) });
    const fn = globalThis[message.name];
    if (typeof fn !== "function") return answer({});
    try {
      Promise.resolve(fn(...message.args.map(fromWire))).then(
        (value) => answer(value === undefined ? {} : { value: toWire(value) }), fail);
    } catch (error) {
      fail(error);
    }
  };

  const receive = (message) => {
    if (message.t === "ret") {
      const waiter = waiting.get(message.id);
      if (!waiter) return;
      waiting.delete(message.id);
      if ("error" in message) waiter.reject(new Error(message.error));
      else waiter.resolve("value" in message ? fromWire(message.value) : undefined);
    } else if (message.t === "invoke") {
      invoke(message);
    } else if (message.t === "navigate") {
      location.href = message.url;
    } else if (message.t === "close") {
      window.close();
    }
  };

  const connect = () => {
    socket = new WebSocket(`ws://${location.host}/__kx/channel`);
    socket.onopen = () => {
      connected = true;
      for (const message of outgoing.splice(0)) socket.send(JSON.stringify(message));
    };
    socket.onmessage = (event) => receive(JSON.parse(event.data));
    socket.onclose = () => {
      connected = false;
      for (const waiter of waiting.values()) waiter.reject(new Error("the window is closed"));
      waiting.clear();
    };
  };

  const nativeObject = (objectName, shape) => {
    const object = {};
    for (const [name, count] of Object.entries(shape.methods)) {
      Object.defineProperty(object, name, {
        enumerable: true,
        value: Object.defineProperty(
          (...args) => request({ t: "call", object: objectName, name, args: args.map(toWire) }),
          "length", { value: count }),
      });
    }
    for (const [name, value] of Object.entries(shape.properties)) {
      const copy = fromWire(value);
      Object.defineProperty(object, name, { enumerable: true, get: () => copy });
    }
    return Object.freeze(object);
  };

  // --- modal dialogs: a page in a frame over the whole window ---
  const appUrl = (url) => {
    const text = String(url);
    if (text.startsWith("this://app/")) return "/" + text.slice(11).replace(/^\/+/, "");
    return new URL(text, location.href).href;
  };

  const openModal = (options = {}) =>
    new Promise((resolve) => {
      const frame = document.createElement("iframe");
      let done = false;
      frame.__kxModal = {
        parameters: options.parameters,
        close(value) {
          if (done) return;
          done = true;
          frame.remove();
          resolve(value);
        },
      };
      frame.className = "kx-modal";
      frame.setAttribute("allowtransparency", "true");
      frame.style.cssText =
        "position:fixed;left:0;top:0;width:100%;height:100%;border:0;margin:0;padding:0;" +
        "background:transparent;z-index:2147483000;color-scheme:normal";
      frame.addEventListener("load", () => frame.contentWindow && frame.contentWindow.focus());
      frame.src = appUrl(options.url);
      document.body.appendChild(frame);
    });

  // --- the folder picker: lists folders through the engine ---
  const pickerStyle = `
    .kx-picker{position:fixed;inset:0;z-index:2147483600;background:rgba(0,0,0,.55);display:flex;
      align-items:center;justify-content:center;font:13px sans-serif;color:#ddd}
    .kx-picker-box{width:560px;max-width:94vw;height:400px;max-height:90vh;background:#25262a;border:1px solid #444;
      display:flex;flex-direction:column;padding:12px;gap:8px;box-sizing:border-box}
    .kx-picker-row{display:flex;gap:6px}.kx-picker-path{flex:1;background:#111;color:#eee;border:1px solid #555;padding:4px}
    .kx-picker-list{flex:1;overflow:auto;margin:0;padding:0;list-style:none;border:1px solid #444;background:#1b1c1f}
    .kx-picker-list li{padding:3px 8px;cursor:default}.kx-picker-list li.selected{background:#4a5d7a}
    .kx-picker-error{color:#ff6b6b;min-height:1em}.kx-picker-buttons{display:flex;justify-content:flex-end;gap:8px}
    .kx-picker button{background:#3a3b40;color:#eee;border:1px solid #555;padding:4px 14px}`;

  const fileUrl = (path) => "file://" + path.split("/").map(encodeURIComponent).join("/");

  const selectFolder = (options = {}) =>
    new Promise((resolve) => {
      if (!document.querySelector("style.kx-picker-style")) {
        const style = document.createElement("style");
        style.className = "kx-picker-style";
        style.textContent = pickerStyle;
        document.head.appendChild(style);
      }
      const root = document.createElement("div");
      root.className = "kx-picker";
      root.innerHTML = `<div class="kx-picker-box" role="dialog">
          <div class="kx-picker-caption"></div>
          <div class="kx-picker-row"><button class="kx-picker-up" type="button">上一级</button>
            <input class="kx-picker-path" spellcheck="false"></div>
          <ul class="kx-picker-list"></ul><div class="kx-picker-error"></div>
          <div class="kx-picker-buttons"><button class="kx-picker-ok" type="button">确定</button>
            <button class="kx-picker-cancel" type="button">取消</button></div></div>`;
      const part = (name) => root.querySelector(".kx-picker-" + name);
      part("caption").textContent = options.caption || "选择文件夹";
      let current = null;
      let selected = null;
      const finish = (path) => {
        root.remove();
        resolve(path === undefined ? undefined : fileUrl(path));
      };
      // Listings can arrive out of order (the first one is still on its way
      // when a person types a path): only the newest asked for is shown, and
      // it does not replace a path typed since it was asked for.
      let asked = 0;
      let typed = false;
      part("path").addEventListener("input", () => (typed = true));
      const show = async (path) => {
        const ticket = ++asked;
        typed = false;
        try {
          const listing = await request({ t: "engine", name: "pickerList", args: [path] });
          if (ticket !== asked) return;
          current = listing;
          selected = null;
          root.dataset.path = listing.path;
          if (!typed) part("path").value = listing.path;
          part("error").textContent = "";
          part("up").disabled = !listing.parent;
          const list = part("list");
          list.replaceChildren();
          for (const entry of listing.entries.filter((e) => e.folder && !e.name.startsWith("."))) {
            const item = document.createElement("li");
            item.textContent = entry.name;
            item.dataset.name = entry.name;
            list.appendChild(item);
          }
        } catch (error) {
          if (ticket === asked) part("error").textContent = error.message;
        }
      };
      const child = (name) => (current.path.endsWith("/") ? current.path : current.path + "/") + name;
      part("list").addEventListener("click", (event) => {
        const item = event.target.closest("li");
        if (!item) return;
        for (const other of part("list").children) other.classList.toggle("selected", other === item);
        selected = item.dataset.name;
      });
      part("list").addEventListener("dblclick", (event) => {
        const item = event.target.closest("li");
        if (item) show(child(item.dataset.name));
      });
      part("up").addEventListener("click", () => current && current.parent && show(current.parent));
      part("path").addEventListener("keydown", (event) => {
        if (event.key === "Enter") show(part("path").value);
      });
      part("ok").addEventListener("click", () => current && finish(selected ? child(selected) : current.path));
      part("cancel").addEventListener("click", () => finish(undefined));
      root.addEventListener("keydown", (event) => {
        if (event.key === "Escape") finish(undefined);
      });
      document.body.appendChild(root);
      show(options.path ? String(options.path).replace(/^file:\/\//, "") : "");
      part("path").focus();
    });

  // --- geometry: window boxes in CSS pixels, screen boxes and moves in device pixels ---
  const shape = (part, x, y, w, h) => {
    switch (part || "xywh") {
      case "xywh": case "rectw": return [x, y, w, h];
      case "rect": return [x, y, x + w, y + h];
      case "position": return [x, y];
      case "dimension": return [w, h];
      case "left": return x;
      case "top": return y;
      case "right": return x + w;
      case "bottom": return y + h;
      case "width": return w;
      case "height": return h;
      default: throw new Error("unknown box part " + part);
    }
  };
  const box = (part, edge = "border", relativeTo = "screen") => {
    const outer = edge === "border" || edge === "frame" || edge === "margin";
    let x = window.screenX + (outer ? 0 : window.outerWidth - window.innerWidth);
    let y = window.screenY + (outer ? 0 : window.outerHeight - window.innerHeight);
    if (relativeTo === "self" || relativeTo === "window") {
      x -= window.screenX;
      y -= window.screenY;
    }
    return shape(part, x, y, outer ? window.outerWidth : window.innerWidth, outer ? window.outerHeight : window.innerHeight);
  };
  const screenBox = (what = "frame", part = "xywh") => {
    const ratio = window.devicePixelRatio || 1;
    const s = window.screen;
    if (what === "workarea")
      return shape(part, (s.availLeft || 0) * ratio, (s.availTop || 0) * ratio, s.availWidth * ratio, s.availHeight * ratio);
    return shape(part, 0, 0, s.width * ratio, s.height * ratio);
  };
  const move = (x, y, width, height) => {
    const ratio = window.devicePixelRatio || 1;
    window.moveTo(Math.round(x / ratio), Math.round(y / ratio));
    if (width !== undefined && height !== undefined) window.resizeTo(Math.round(width / ratio), Math.round(height / ratio));
  };

  // --- Window.this ---
  const self = {};
  if (modalFrame) {
    Object.assign(self, {
      parameters: modalFrame.parameters,
      close: (value) => modalFrame.close(value),
      modal: (options) => opener.openModal(options),
      selectFolder: (options) => opener.selectFolder(options),
      box: (...args) => opener.box(...args),
      screenBox,
      move: () => {},
    });
    document.addEventListener("keydown", (event) => {
      if (event.key === "Escape") modalFrame.close(undefined);
    });
  } else {
    for (const [name, objectShape] of Object.entries(config.objects)) self[name] = nativeObject(name, objectShape);
    Object.assign(self, {
      modal: openModal,
      selectFolder,
      close: (value) => post({ t: "close", ...(value === undefined ? {} : { value: toWire(value) }) }),
      box,
      screenBox,
      move,
    });
    connect();
  }
  Object.defineProperty(window.Window, "this", { value: Object.freeze(self) });
  globalThis.__DIR__ = new URL(".", location.href).href;

  // --- element helpers ---
  const listen = (target, event, selector, handler) => {
    if (typeof selector === "function") {
      const fn = selector;
      target.addEventListener(event, (e) => fn.call(target, e, target));
    } else {
      target.addEventListener(event, (e) => {
        const element = e.target instanceof Element ? e.target.closest(selector) : null;
        if (element && (target === document || target.contains(element))) handler.call(element, e, element);
      });
    }
    return target;
  };
  const define = (proto, name, value) => Object.defineProperty(proto, name, { value, configurable: true, writable: true });
  for (const proto of [Element.prototype, Document.prototype]) {
    define(proto, "$", function (selector) { return this.querySelector(selector); });
    define(proto, "$$", function (selector) { return [...this.querySelectorAll(selector)]; });
    define(proto, "on", function (event, selector, handler) { return listen(this, event, selector, handler); });
  }
  Object.defineProperty(Element.prototype, "state", {
    configurable: true,
    get() {
      const element = this;
      return {
        get disabled() { return "disabled" in element ? element.disabled : element.hasAttribute("disabled"); },
        set disabled(on) {
          if ("disabled" in element) element.disabled = !!on;
          element.toggleAttribute("disabled", !!on);
        },
        get checked() { return !!element.checked; },
        set checked(on) { element.checked = !!on; },
        get focus() { return document.activeElement === element; },
        set focus(on) { if (on) element.focus(); else element.blur(); },
        get visible() { return element.checkVisibility ? element.checkVisibility() : element.offsetParent !== null; },
        get hover() { return element.matches(":hover"); },
      };
    },
  });

  // The window's focus and visibility, for native code that follows the user's
  // attention. Focus moving into a dialog's frame is still this window's, so
  // the answer is read once the move has settled.
  if (!modalFrame) {
    let reported = "";
    const reportActivity = () =>
      setTimeout(() => {
        const ratio = window.devicePixelRatio || 1;
        const activity = {
          t: "activity",
          focused: document.hasFocus(),
          visible: document.visibilityState === "visible",
          screen: [Math.round(screen.width * ratio), Math.round(screen.height * ratio)],
        };
        const text = JSON.stringify(activity);
        if (text !== reported) post(activity);
        reported = text;
      }, 0);
    window.addEventListener("focus", reportActivity);
    window.addEventListener("blur", reportActivity);
    document.addEventListener("visibilitychange", reportActivity);
    document.addEventListener("DOMContentLoaded", reportActivity);
  }

  // Window attributes of the root element a browser window can honour, the
  // close role, and links meant for the person's own browser.
  // window-width and window-height size the page's area: the browser's own
  // title bar comes on top of the size the window was opened with.
  const sizeToPage = () => {
    const root = document.documentElement;
    const width = parseInt(root.getAttribute("window-width"), 10);
    const height = parseInt(root.getAttribute("window-height"), 10);
    if (width > 0 && height > 0 && (window.innerWidth !== width || window.innerHeight !== height))
      window.resizeBy(width - window.innerWidth, height - window.innerHeight);
  };
  document.addEventListener("DOMContentLoaded", () => {
    const root = document.documentElement;
    if (!modalFrame) {
      // The window manager may add its title bar after the page has loaded
      // (under load, seconds later): for a while every change of the window
      // is put right again. A size the page already has is left alone.
      sizeToPage();
      window.addEventListener("resize", sizeToPage);
      setTimeout(() => window.removeEventListener("resize", sizeToPage), 10000);
    }
    if (config.media) root.setAttribute("media-type", config.media);
    if (!document.title && root.getAttribute("window-title")) document.title = root.getAttribute("window-title");
    const icon = root.getAttribute("window-icon");
    if (icon && !document.querySelector("link[rel~=icon]")) {
      const link = document.createElement("link");
      link.rel = "icon";
      link.href = icon;
      document.head.appendChild(link);
    }
    document.dispatchEvent(new Event("ready"));
    if (!modalFrame) setTimeout(() => post({ t: "ready" }), 0);
  });
  document.addEventListener("click", (event) => {
    const target = event.target instanceof Element ? event.target.closest('[role="window-close"]') : null;
    if (target && !event.defaultPrevented) window.Window.this.close();
  });
  document.addEventListener("click", (event) => {
    const link = event.target instanceof Element ? event.target.closest('a[target="@system"][href]') : null;
    if (!link || event.defaultPrevented) return;
    event.preventDefault();
    (modalFrame ? opener.request : request)({ t: "engine", name: "openInBrowser", args: [link.href] }).catch(() => {});
  });

  window.__kx = { openModal, selectFolder, box, request: modalFrame ? opener.request : request, config };
})();
