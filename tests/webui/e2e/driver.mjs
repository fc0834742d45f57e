// Plays a user in one window of the UI server, in headless Chromium, and
// writes what it saw as JSON:
//   node driver.mjs SCENARIO ROLE URL ARTIFACTS RESULT
// A scenario may play several windows (the options page and the picker it
// opens); ROLE says which one this is.
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [scenario, role, url, artifacts, resultFile] = process.argv.slice(2);
const result = { scenario, role, ok: false, checks: {}, pageErrors: [] };
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

const loaded = (page) => page.waitForFunction(() => (document.getElementById("state") || {}).textContent?.startsWith("loaded"),
                                               null, { timeout: 20000 });
// A page the driver opened may not close itself; the test ends the driver.
const closed = (page) => page.waitForEvent("close", { timeout: 3000 }).catch(() => { });
// The grab page waits for the options window to be played before it goes
// on; the options window for the grab page's checks before it closes.
const signal = (name) => path.join(path.dirname(resultFile), name);
async function waitSignal(page, name) {
  for (let i = 0; i < 400 && !fs.existsSync(signal(name)); i++) await page.waitForTimeout(100);
}

// The bridge, then the page while Options is open: greyed, deaf to clicks
// and keys; usable again once it has closed.
async function grab(page) {
  const c = result.checks;
  await loaded(page);
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
    return [d.loadXML("<a b='1'>x</a>"), d.xml];
  });
  c.contextMenuDispatched = await page.evaluate(() =>
    document.body.dispatchEvent(new MouseEvent("contextmenu", { bubbles: true, cancelable: true })));
  await page.evaluate(() => {
    window.__menu = [];
    document.addEventListener("contextmenu", (e) => window.__menu.push(e.defaultPrevented));
  });
  await page.mouse.click(20, 20, { button: "right" });
  c.contextMenuClick = await page.evaluate(() => window.__menu);
  await page.evaluate(() => window.external.SetDlgSize(800, 600));
  await page.screenshot({ path: path.join(artifacts, "grab-dialog.png") });

  const veiled = () => page.evaluate(() => !!document.getElementById("quillory-modal"));
  const state = async () => ({ count: await page.textContent("#count"), keys: await page.evaluate(() => window.keys) });
  await page.click("#count");
  await page.keyboard.press("a");
  await page.click("#options");
  await page.waitForSelector("#quillory-modal", { state: "visible", timeout: 20000 });
  c.veiled = await veiled();
  await page.screenshot({ path: path.join(artifacts, "grab-while-options.png") });
  for (const id of ["#count", "#options"]) {
    const box = await page.$eval(id, (e) => { const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; });
    await page.mouse.click(box[0], box[1]);
  }
  await page.keyboard.press("b");
  await page.waitForTimeout(300);
  c.during = await state();
  fs.writeFileSync(signal("grab-checked"), "");
  await page.waitForSelector("#quillory-modal", { state: "detached", timeout: 60000 });
  await page.click("#count");
  await page.keyboard.press("c");
  await page.waitForTimeout(100);
  c.after = { veiled: await veiled(), ...(await state()) };
  await page.evaluate(() => window.external.Exit());
  // The dialog has closed: the page hears so with its next request.
  c.afterExit = await page.evaluate(async () => {
    for (let i = 0; i < 50; i++) {
      try { window.external.GrabFlash; } catch (e) { return e.number; }
      await new Promise((r) => setTimeout(r, 100));
    }
    return "still open";
  });
}

const enabled = (page, id) => page.evaluate((i) => {
  const e = document.getElementById("c" + i);
  return !!e && !(e.box ? e.box.disabled : e.disabled);
}, id);
const waitEnabled = (page, id, want) => page.waitForFunction(([i, w]) => {
  const e = document.getElementById("c" + i);
  return !!e && (e.box ? !e.box.disabled : !e.disabled) === w;
}, [id, want], { timeout: 15000 });

// Options opened from the grab page: edits, then Escape.
async function cancelOptions(page) {
  const c = result.checks;
  await page.waitForSelector("#c210", { timeout: 40000 });
  await page.click("#c210 input");
  await page.click("#c215 input");
  await waitEnabled(page, 218, false);
  c.disabledAgain = !(await enabled(page, 218));
  await waitSignal(page, "grab-checked");
  await page.keyboard.press("Escape");
  await closed(page);
}

async function closeWindow(page) {
  await loaded(page);
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

// Controls whose text does not fit their box (the fallback font is wider
// than the one the dialog was laid out for).
const clippedTexts = (page) => page.$$eval(".ctl", (es) => es.filter((e) => {
  const t = e.tagName === "FIELDSET" ? e.querySelector("legend") : e;
  return e.textContent.trim() && e.tagName !== "INPUT" && t.scrollWidth > t.clientWidth + 0.5;
}).map((e) => e.textContent.trim()));

async function options(page) {
  const c = result.checks;
  await page.waitForSelector("#c210", { timeout: 20000 });
  c.title = await page.title();
  c.labels = await page.$$eval(".ctl", (es) => es.map((e) => e.textContent.trim()).filter((t) => t));
  c.initial = { path: await enabled(page, 218), size: await enabled(page, 216), browse: await enabled(page, 219),
                view: await enabled(page, 217), postgrab: await enabled(page, 215) };
  await page.click("#c210 input");
  const t0 = Date.now();
  await waitEnabled(page, 218, true);
  c.enabledAfterMs = Date.now() - t0;
  c.afterCheck = { size: await enabled(page, 216), browse: await enabled(page, 219), view: await enabled(page, 217) };
  // F1 on the path box shows its pop-up text.
  await page.focus("#c218");
  await page.keyboard.press("F1");
  await page.waitForSelector("#popup", { state: "visible", timeout: 15000 });
  c.popup = await page.textContent("#popup");
  // The caption's help button, then a click on a control.
  await page.click("#helpbtn");
  await page.click("#c219");
  await page.waitForFunction(() => document.getElementById("popup").textContent.startsWith("Chooses"), null, { timeout: 15000 });
  c.popup2 = await page.textContent("#popup");
  await page.screenshot({ path: path.join(artifacts, "options-help.png") });
  await page.click("#c219"); // dismisses the pop-up and browses: the picker window plays
  await page.waitForFunction(() => document.getElementById("c218").value.endsWith("new.txt"), null, { timeout: 70000 });
  c.browsed = await page.inputValue("#c218");
  await page.click("#c217"); // View: the file browsed to
  await page.fill("#c218", "");
  await page.type("#c218", "/tmp/typed log.txt");
  await page.fill("#c216", "");
  await page.type("#c216", "12x3-");
  c.size = await page.inputValue("#c216");
  await page.click("#c215 input");
  await page.waitForFunction(() => !document.getElementById("c215").box.checked, null, { timeout: 15000 });
  c.clipped = await clippedTexts(page);
  await page.screenshot({ path: path.join(artifacts, "options.png") });
  // OK at once: the page must deliver every keystroke before it.
  await page.click("#c1");
  await closed(page);
}

async function picker(page) {
  const c = result.checks;
  await page.waitForFunction(() => document.querySelectorAll("#list div").length > 0, null, { timeout: 20000 });
  c.start = await page.textContent("#path");
  c.name = await page.inputValue("#name");
  c.filter = await page.textContent("#filter");
  c.entries = await page.$$eval("#list div", (ds) => ds.map((d) => d.textContent));
  c.markup = await page.evaluate(() => !!document.querySelector("#list img") || !!window.pwned);
  await page.screenshot({ path: path.join(artifacts, "file-picker.png") });
  await page.dblclick("#list div.dir");
  await page.waitForFunction(() => document.getElementById("path").textContent.endsWith("/sub"), null, { timeout: 15000 });
  await page.fill("#name", "new");
  await page.click("#ok");
  await closed(page);
}

async function about(page) {
  const c = result.checks;
  await page.waitForSelector("#c263", { timeout: 20000 });
  await page.waitForFunction(() => document.getElementById("c263").textContent !== "VersionPlace", null, { timeout: 15000 });
  c.title = await page.title();
  c.version = await page.textContent("#c263");
  c.texts = await page.$$eval(".ctl", (es) => es.map((e) => e.textContent.trim()).filter((t) => t));
  c.link = await page.textContent("#c221");
  await page.click("#c221");
  await page.waitForFunction(() => document.getElementById("c221").classList.contains("visited"), null, { timeout: 15000 });
  c.visited = true;
  await page.screenshot({ path: path.join(artifacts, "about.png") });
  await page.click("#c2");
  await closed(page);
}

const scenarios = {
  grab: { grab, options: cancelOptions }, close: closeWindow, progress, options: { options, picker }, about,
};

try {
  const play = typeof scenarios[scenario] === "function" ? scenarios[scenario] : (scenarios[scenario] || {})[role];
  if (!play) throw new Error("unknown scenario " + scenario + " for a " + role + " window");
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
  await play(page);
  result.ok = true;
  await finish(0);
} catch (e) {
  result.error = String(e && e.stack || e);
  await finish(2);
}
