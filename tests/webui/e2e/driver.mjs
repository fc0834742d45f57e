// Plays a user in one window of the UI server, in headless Chromium, and
// writes what it saw as JSON: node driver.mjs SCENARIO URL ARTIFACTS RESULT
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [scenario, url, artifacts, resultFile] = process.argv.slice(2);
const result = { scenario, ok: false, checks: {}, pageErrors: [] };
let context;
let profile;

async function finish(code) {
  fs.writeFileSync(resultFile, JSON.stringify(result, null, 1));
  try { if (context) await context.close(); } catch { }
  try { if (profile) fs.rmSync(profile, { recursive: true, force: true }); } catch { }
  process.exit(code);
}
// Bounded: a page that never gets where it should ends the driver.
setTimeout(() => { result.error = "driver deadline passed"; finish(3); }, 90000).unref();

async function bridge(page) {
  const c = result.checks;
  await page.waitForFunction(() => (document.getElementById("state") || {}).textContent?.startsWith("loaded"),
                             null, { timeout: 20000 });
  c.state = await page.textContent("#state");
  await page.waitForFunction(() => { const i = document.getElementById("ok"); return i && i.complete; }, null, { timeout: 10000 });
  c.image = await page.evaluate(() => { const i = document.getElementById("ok"); return [i.naturalWidth, i.naturalHeight]; });
  c.cases = await page.evaluate(() => {
    window.external.GRABFLASH = 1;
    return [window.external.grabflash, window.external.GrabFlash, window.external.gRaBfLaSh];
  });
  c.pending = await page.evaluate(() => {
    try { window.external.GetData(99); return "no error"; } catch (e) { return { number: e.number, message: e.message }; }
  });
  c.unknown = await page.evaluate(() => {
    try { return "read " + window.external.NoSuchMember; } catch (e) { return e.number; }
  });
  c.xml = await page.evaluate(() => {
    const d = window.external.CreateXmlDom();
    const loaded = d.loadXML("<a b='1'>x</a>");
    return [loaded, d.xml];
  });
  c.contextMenuDispatched = await page.evaluate(() =>
    document.body.dispatchEvent(new MouseEvent("contextmenu", { bubbles: true, cancelable: true })));
  await page.evaluate(() => {
    window.__menu = [];
    document.addEventListener("contextmenu", (e) => window.__menu.push(e.defaultPrevented));
  });
  await page.mouse.click(20, 20, { button: "right" });
  c.contextMenuClick = await page.evaluate(() => window.__menu);
  c.resize = await page.evaluate(() => window.external.SetDlgSize(800, 600));
  await page.screenshot({ path: path.join(artifacts, "grab-dialog.png") });
  c.exit = await page.evaluate(() => window.external.Exit());
  // The dialog has closed: the page hears so with its next request.
  c.afterExit = await page.evaluate(async () => {
    for (let i = 0; i < 50; i++) {
      try { window.external.GrabFlash; } catch (e) { return e.number; }
      await new Promise((r) => setTimeout(r, 100));
    }
    return "still open";
  });
}

async function closeWindow(page) {
  await page.waitForFunction(() => (document.getElementById("state") || {}).textContent?.startsWith("loaded"),
                             null, { timeout: 20000 });
  result.checks.closedAt = Date.now();
  await page.close({ runBeforeUnload: false });
}

async function progress(page) {
  const c = result.checks;
  await page.waitForFunction(() => [...document.querySelectorAll("#rows tr")]
    .some((tr) => tr.cells[4].textContent === "Completed"), null, { timeout: 30000 });
  c.title = await page.title();
  c.headers = await page.$$eval("thead th", (ths) => ths.map((th) => th.textContent));
  c.rows = await page.$$eval("#rows tr", (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
  c.widths = await page.$$eval("col", (cols) => cols.map((col) => col.getBoundingClientRect().width));
  await page.screenshot({ path: path.join(artifacts, "progress.png") });
  await page.click("#close");
}

try {
  profile = fs.mkdtempSync(path.join(process.env.TMPDIR || os.tmpdir(), "quillory-chromium-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.QUILLORY_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  const page = context.pages()[0] || await context.newPage();
  page.on("pageerror", (e) => result.pageErrors.push(String(e.message)));
  await page.goto(url);
  if (scenario === "bridge") await bridge(page);
  else if (scenario === "close") await closeWindow(page);
  else if (scenario === "progress") await progress(page);
  else throw new Error("unknown scenario " + scenario);
  result.ok = true;
  await finish(0);
} catch (e) {
  result.error = String(e && e.stack || e);
  await finish(2);
}
