// A user with the Quillory extension who presses its toolbar button:
//   node extension-click.mjs PROFILE EXTENSION_DIR PAGE_URL RESULT_FILE
// Starts the system Chromium on PROFILE, loads the unpacked extension,
// opens the page and presses the button on that tab. Whatever the press
// brings is written to RESULT_FILE: the page's alerts, and every window the
// extension opened (the grab dialog: its kinds, frames and resources, then
// Exit; any other window, such as a message box: its text, then OK).
//
// Command-line loading of extensions is off in current Chromium, and a
// press simulated from a script gets no activeTab grant; the DevTools
// protocol's Extensions domain (pipe transport plus
// --enable-unsafe-extension-debugging) loads the folder and runs the
// action as a real press does.
import { chromium } from "playwright-core";
import fs from "node:fs";

const [profile, extensionDir, pageUrl, resultFile] = process.argv.slice(2);
const result = { extensionId: null, alerts: [], windows: [], error: null };
let context;

async function finish(code) {
  fs.writeFileSync(resultFile, JSON.stringify(result, null, 1));
  try { if (context) await context.close(); } catch { }
  process.exit(code);
}
setTimeout(() => { result.error = "driver deadline passed"; finish(3); }, 100000).unref();

// The grab dialog: what it lists, then Exit as its button does.
async function readDialog(page, seen) {
  seen.kind = "dialog";
  seen.kinds = await page.$$eval(".qx-tab", (tabs) => tabs.map((t) => t.getAttribute("data-kind")));
  seen.frames = await page.$$eval(".qx-frame-url", (els) => els.map((e) => e.textContent));
  seen.items = await page.$$eval(".qx-item[data-url]", (els) => els.map((e) => e.getAttribute("data-url")));
  await page.evaluate(() => setTimeout(() => window.external.Exit(), 0));
}

// Any other window (a message box): its text, then its first button.
async function readOther(page, seen) {
  seen.kind = "other";
  await page.waitForSelector("button", { timeout: 20000 });
  seen.text = await page.evaluate(() => document.body.innerText);
  await page.evaluate(() => setTimeout(() => document.querySelector("button").click(), 0));
}

try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.QUILLORY_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    ignoreDefaultArgs: ["--disable-extensions"],
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-sync", "--disable-component-update",
           "--enable-unsafe-extension-debugging"],
  });
  const cdp = await context.browser().newBrowserCDPSession();
  // A press before the new extension's worker first ran finds no listener.
  const workerRan = context.waitForEvent("serviceworker", {
    predicate: (worker) => worker.url().startsWith("chrome-extension://") && worker.url().endsWith("/background.js"),
    timeout: 30000,
  });
  result.extensionId = (await cdp.send("Extensions.loadUnpacked", { path: extensionDir })).id;
  await workerRan;

  // One window the press opened, read to its end; the first one decides.
  let settle;
  const settled = new Promise((resolve) => { settle = resolve; });
  const page = await context.newPage();
  context.on("page", async (popup) => {
    if (popup === page)
      return;
    const seen = { url: popup.url() };
    result.windows.push(seen);
    try {
      await popup.waitForLoadState("load");
      seen.url = popup.url();
      // Which window it is shows once it has built itself; a slow machine
      // must not turn a late dialog into a "message box".
      await popup.waitForSelector(".qx-tab, #buttons button", { timeout: 45000 });
      const isDialog = (await popup.$(".qx-tab")) !== null;
      await (isDialog ? readDialog(popup, seen) : readOther(popup, seen));
      // The host closes its window once the run has taken the answer.
      seen.closedByHost = await popup.waitForEvent("close", { timeout: 20000 }).then(() => true, () => false);
    } catch (e) {
      seen.error = String(e && e.message ? e.message : e);
    }
    settle();
  });

  page.on("dialog", async (box) => {
    result.alerts.push(box.message());
    await box.dismiss().catch(() => { });
    settle();
  });
  await page.goto(pageUrl, { waitUntil: "load" });
  const { targetInfos } = await cdp.send("Target.getTargets", { filter: [{ type: "tab" }] });
  const tab = targetInfos.find((t) => t.url === page.url());
  if (!tab)
    throw new Error("no tab target shows " + page.url());
  await cdp.send("Extensions.triggerAction", { id: result.extensionId, targetId: tab.targetId });
  await Promise.race([settled, new Promise((resolve) => setTimeout(resolve, 60000))]);
  // Late extra windows or alerts would be faults too: give them a moment.
  await new Promise((resolve) => setTimeout(resolve, 1500));
  await finish(0);
} catch (e) {
  result.error = String(e && e.stack ? e.stack : e);
  await finish(2);
}
