// Quillory's browser side: the toolbar button "Grab" and the page menu
// entry "Quillory...". Both take a snapshot of the page (snapshot.js) and
// hand it to the native host (`quillory native-host`), which runs the grab
// and opens its dialog as windows of this browser.
//
// Messages with the host (native messaging, JSON):
//   to the host:   {type: "snapshot", id, part, parts, data}  one piece of the snapshot text
//                  {type: "grab", id, via: "button" | "menu"}
//                  {type: "opened", window, ok} / {type: "closed", window}
//   from the host: {type: "ready"}                            the host runs
//                  {type: "open", window, url, width, height, role}
//                  {type: "close", window}
//                  {type: "done", id} / {type: "error", id, text}
"use strict";

const HOST = "com.vornel.quillory";
const NOT_INSTALLED = "Module QVTovanix.Tovanix not installed";
// Characters per message: the JSON escaping of a piece stays far below the
// browsers' limits for one message to the host (64 MB in Chromium, and
// Firefox stalls near 45 MB).
const PIECE = 4 * 1024 * 1024;
const MENU_ID = "quillory-grab";

let nextId = 1;

function menus() {
  chrome.contextMenus.removeAll(() => {
    chrome.contextMenus.create({
      id: MENU_ID,
      title: "Quillory...",
      contexts: ["page", "frame", "image", "link", "selection"],
    });
  });
}
chrome.runtime.onInstalled.addListener(menus);
chrome.runtime.onStartup.addListener(menus);

// A message box in the page, as the menu extension's own script shows one;
// a page the extension may not script (a browser page, a store page) gets
// a small window of the extension's own instead, or the user would see
// nothing at all.
async function tell(tabId, text) {
  try {
    await chrome.scripting.executeScript({ target: { tabId }, func: (t) => alert(t), args: [text] });
  } catch (_) {
    chrome.windows.create({ url: "message.html#" + encodeURIComponent(text), type: "popup", width: 460, height: 200 })
      .catch(() => console.error("Quillory: " + text));
  }
}

async function snapshot(tabId) {
  const run = () => chrome.scripting.executeScript({ target: { tabId }, files: ["snapshot.js"] });
  let results;
  try {
    results = await run();
  } catch (_) {
    // The press's page access reaches the page's process on its own way and
    // may arrive just after the click event: one more try a moment later.
    await new Promise((resolve) => setTimeout(resolve, 300));
    results = await run();
  }
  const text = results && results[0] ? results[0].result : null;
  if (typeof text !== "string")
    throw new Error("the page gave no snapshot");
  return text;
}

// Windows the host asked for, by the host's window number.
const windows = new Map();
chrome.windows.onRemoved.addListener((browserWindow) => {
  for (const [number, entry] of windows) {
    if (entry.browserWindow === browserWindow) {
      windows.delete(number);
      try { entry.port.postMessage({ type: "closed", window: number }); } catch (_) { /* host gone */ }
    }
  }
});

async function grab(tab, via) {
  if (!tab || tab.id === undefined)
    return;
  let text;
  try {
    text = await snapshot(tab.id);
  } catch (e) {
    await tell(tab.id, "Quillory cannot read this page: " + (e && e.message ? e.message : e));
    return;
  }
  const id = nextId++;
  let ready = false;
  let port;
  try {
    port = chrome.runtime.connectNative(HOST);
  } catch (_) {
    await tell(tab.id, NOT_INSTALLED);
    return;
  }
  chrome.action.setIcon({ tabId: tab.id, path: { 16: "icons/hot-16.png", 24: "icons/hot-24.png", 32: "icons/hot-32.png" } });
  port.onDisconnect.addListener(() => {
    chrome.action.setIcon({ tabId: tab.id, path: { 16: "icons/normal-16.png", 24: "icons/normal-24.png", 32: "icons/normal-32.png" } });
    if (!ready)
      tell(tab.id, NOT_INSTALLED);
    for (const [number, entry] of windows) {
      if (entry.port === port) {
        windows.delete(number);
        chrome.windows.remove(entry.browserWindow).catch(() => {});
      }
    }
  });
  port.onMessage.addListener(async (m) => {
    if (!m || typeof m !== "object")
      return;
    if (m.type === "ready") {
      ready = true;
    } else if (m.type === "open") {
      try {
        const w = await chrome.windows.create({
          url: String(m.url),
          type: "popup",
          focused: true,
          width: m.width > 0 ? m.width : undefined,
          height: m.height > 0 ? m.height : undefined,
        });
        windows.set(m.window, { browserWindow: w.id, port });
        port.postMessage({ type: "opened", window: m.window, ok: true });
      } catch (e) {
        port.postMessage({ type: "opened", window: m.window, ok: false });
      }
    } else if (m.type === "close") {
      const entry = windows.get(m.window);
      if (entry) {
        windows.delete(m.window);
        chrome.windows.remove(entry.browserWindow).catch(() => {});
      }
    } else if (m.type === "error") {
      tell(tab.id, String(m.text));
    } else if (m.type === "done") {
      port.disconnect();
    }
  });
  const parts = Math.max(1, Math.ceil(text.length / PIECE));
  for (let part = 0; part < parts; ++part)
    port.postMessage({ type: "snapshot", id, part, parts, data: text.slice(part * PIECE, (part + 1) * PIECE) });
  port.postMessage({ type: "grab", id, via });
}

// The button plays the part of the command executed on the window's object.
chrome.action.onClicked.addListener((tab) => grab(tab, "button"));
// The menu entry plays the part of the menu extension's Grab call.
chrome.contextMenus.onClicked.addListener((info, tab) => {
  if (info.menuItemId === MENU_ID)
    grab(tab, "menu");
});
