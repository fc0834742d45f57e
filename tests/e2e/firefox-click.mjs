// The Quillory extension's toolbar button pressed in headless Firefox:
//   node firefox-click.mjs FIREFOX PROFILE EXTENSION_DIR PAGE_URL RESULT_FILE
// Loads the extension as a temporary add-on (as about:debugging's "Load
// Temporary Add-on" does), opens the page and runs the button's action on
// that window as a press does (activeTab granted), speaking Marionette
// (length-prefixed JSON over loopback TCP) directly. The result file has
// the same shape as extension-click.mjs's: the add-on id, the page's
// alerts, and each window the extension opened (the grab dialog: kinds,
// frames, resources, then Exit; another window: its text, then its button).
import { spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import path from "node:path";

const [firefox, profile, extensionDir, pageUrl, resultFile] = process.argv.slice(2);
const result = { extensionId: null, alerts: [], windows: [], error: null };
let browser;

function finish(code) {
  fs.writeFileSync(resultFile, JSON.stringify(result, null, 1));
  if (browser && browser.exitCode === null)
    browser.kill("SIGKILL");
  process.exit(code);
}
setTimeout(() => { result.error = "driver deadline passed"; finish(3); }, 120000).unref();
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Marionette frames: "<length>:<json>"; commands [0, id, name, params],
// answers [1, id, error, result].
function connect(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, "127.0.0.1");
    let buffer = Buffer.alloc(0);
    const pending = new Map();
    let next = 1;
    socket.on("data", (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      for (;;) {
        const colon = buffer.indexOf(":");
        if (colon < 0 || colon > 10)
          break;
        const length = Number(buffer.subarray(0, colon).toString());
        if (buffer.length < colon + 1 + length)
          break;
        const message = JSON.parse(buffer.subarray(colon + 1, colon + 1 + length).toString());
        buffer = buffer.subarray(colon + 1 + length);
        // Anything else is the greeting.
        if (Array.isArray(message) && pending.has(message[1])) {
          const { ok, fail } = pending.get(message[1]);
          pending.delete(message[1]);
          message[2] ? fail(new Error(JSON.stringify(message[2]))) : ok(message[3]);
        }
      }
    });
    socket.on("error", reject);
    const send = (name, params) => new Promise((ok, fail) => {
      const id = next++;
      pending.set(id, { ok, fail });
      const text = JSON.stringify([0, id, name, params]);
      socket.write(Buffer.byteLength(text) + ":" + text);
    });
    socket.on("connect", () => resolve({ send, socket }));
  });
}

try {
  fs.mkdirSync(profile, { recursive: true });
  // Port 0: Firefox picks a free one and writes it into the profile.
  fs.writeFileSync(path.join(profile, "user.js"), [
    'user_pref("marionette.port", 0);',
    'user_pref("browser.shell.checkDefaultBrowser", false);',
    'user_pref("app.update.disabledForTesting", true);',
    'user_pref("browser.startup.homepage_override.mstone", "ignore");',
    'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
    'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);',
    'user_pref("network.proxy.type", 0);',
  ].join("\n") + "\n");
  browser = spawn(firefox, ["--headless", "--marionette", "-remote-allow-system-access", "--no-remote", "--profile", profile, "about:blank"],
                  { stdio: ["ignore", "inherit", "inherit"] });
  const portFile = path.join(profile, "MarionetteActivePort");
  let port = 0;
  while (!port) {
    if (browser.exitCode !== null)
      throw new Error("Firefox ended with status " + browser.exitCode);
    if (fs.existsSync(portFile))
      port = Number(fs.readFileSync(portFile, "utf8").trim());
    if (!port)
      await pause(200);
  }
  const marionette = await connect(port);
  await marionette.send("WebDriver:NewSession", { capabilities: {} });
  const installed = await marionette.send("Addon:Install", { path: extensionDir, temporary: true });
  result.extensionId = installed && installed.value !== undefined ? installed.value : installed;
  const value = (answer) => (answer && answer.value !== undefined ? answer.value : answer);
  const handles = async () => value(await marionette.send("WebDriver:GetWindowHandles", {}));
  const run = async (script, args = []) => value(await marionette.send("WebDriver:ExecuteScript", { script, args }));

  await marionette.send("WebDriver:Navigate", { url: pageUrl });
  const pageHandle = value(await marionette.send("WebDriver:GetWindowHandle", {}));
  await marionette.send("Marionette:SetContext", { value: "chrome" });
  await run(`const { ExtensionParent } = ChromeUtils.importESModule("resource://gre/modules/ExtensionParent.sys.mjs");
    const extension = ExtensionParent.GlobalManager.getExtension(arguments[0]);
    const window = Services.wm.getMostRecentWindow("navigator:browser");
    ExtensionParent.apiManager.global.browserActionFor(extension).triggerAction(window);`, [result.extensionId]);
  await marionette.send("Marionette:SetContext", { value: "content" });

  // The first alert or window the press brings decides.
  const deadline = Date.now() + 60000;
  while (Date.now() < deadline && result.alerts.length === 0 && result.windows.length === 0) {
    await pause(300);
    const alert = await marionette.send("WebDriver:GetAlertText", {}).then(value, () => null);
    if (alert !== null) {
      result.alerts.push(alert);
      await marionette.send("WebDriver:DismissAlert", {}).catch(() => { });
    }
    const popup = (await handles()).find((h) => h !== pageHandle);
    if (popup === undefined)
      continue;
    const seen = {};
    result.windows.push(seen);
    await marionette.send("WebDriver:SwitchToWindow", { handle: popup });
    let state = null;
    while (Date.now() < deadline) {
      state = await run(`return document.readyState === "complete" && {
        url: location.href,
        kinds: [...document.querySelectorAll(".qx-tab")].map((t) => t.getAttribute("data-kind")),
        frames: [...document.querySelectorAll(".qx-frame-url")].map((e) => e.textContent),
        items: [...document.querySelectorAll(".qx-item[data-url]")].map((e) => e.getAttribute("data-url")),
        text: document.body.innerText,
        button: !!document.querySelector("button") };`).catch(() => null);
      if (state && (state.kinds.length > 0 || state.button))
        break;
      await pause(300);
    }
    if (!state)
      break;
    seen.url = state.url;
    if (state.kinds.length > 0) {
      Object.assign(seen, { kind: "dialog", kinds: state.kinds, frames: state.frames, items: state.items });
      await run("setTimeout(() => window.external.Exit(), 0);");
    } else {
      Object.assign(seen, { kind: "other", text: state.text });
      await run('setTimeout(() => document.querySelector("button").click(), 0);');
    }
    // The host closes its window once the run has taken the answer.
    seen.closedByHost = false;
    for (let i = 0; i < 60 && !seen.closedByHost; ++i) {
      await pause(300);
      seen.closedByHost = !(await handles()).includes(popup);
    }
    await marionette.send("WebDriver:SwitchToWindow", { handle: pageHandle }).catch(() => { });
  }
  await pause(1500);
  const alert = await marionette.send("WebDriver:GetAlertText", {}).then(value, () => null);
  if (alert !== null && !result.alerts.includes(alert))
    result.alerts.push(alert);
  await marionette.send("Marionette:Quit", { flags: ["eForceQuit"] }).catch(() => { });
  marionette.socket.destroy();
  finish(0);
} catch (e) {
  result.error = String(e && e.message ? e.message : e);
  finish(2);
}
