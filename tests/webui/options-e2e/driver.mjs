// Plays a user in the options or about page of the UI server, in headless
// Chromium, and writes what it saw as JSON:
//   node driver.mjs SCENARIO URL ARTIFACTS RESULT
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
setTimeout(() => { result.error = "driver deadline passed"; finish(3); }, 60000).unref();

const enabled = (page, id) => page.evaluate((i) => {
  const e = document.getElementById("c" + i);
  return !!e && !(e.box ? e.box.disabled : e.disabled);
}, id);
const waitEnabled = (page, id, want) => page.waitForFunction(([i, w]) => {
  const e = document.getElementById("c" + i);
  return !!e && (e.box ? !e.box.disabled : !e.disabled) === w;
}, [id, want], { timeout: 3000 });

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
  await page.waitForSelector("#popup", { state: "visible", timeout: 3000 });
  c.popup = await page.textContent("#popup");
  // The caption's help button, then a click on a control.
  await page.click("#helpbtn");
  await page.click("#c219");
  await page.waitForFunction(() => document.getElementById("popup").textContent.startsWith("Chooses"), null, { timeout: 3000 });
  c.popup2 = await page.textContent("#popup");
  await page.screenshot({ path: path.join(artifacts, "options-help.png") });
  await page.click("#c219"); // dismisses the pop-up and browses
  await page.waitForFunction(() => document.getElementById("c218").value.endsWith("browsed.txt"), null, { timeout: 3000 });
  c.browsed = await page.inputValue("#c218");
  await page.click("#c217"); // View: the file browsed to
  await page.fill("#c218", "");
  await page.type("#c218", "/tmp/typed log.txt");
  await page.fill("#c216", "");
  await page.type("#c216", "12x3-");
  c.size = await page.inputValue("#c216");
  await page.click("#c215 input");
  await page.waitForFunction(() => !document.getElementById("c215").box.checked, null, { timeout: 3000 });
  await page.screenshot({ path: path.join(artifacts, "options.png") });
  // Let the typing reach the dialog before OK.
  await page.waitForTimeout(300);
  await page.click("#c1");
  await page.waitForEvent("close", { timeout: 3000 }).catch(() => { c.notClosed = true; });
}

async function cancel(page) {
  const c = result.checks;
  await page.waitForSelector("#c210", { timeout: 20000 });
  await page.click("#c210 input");
  await page.click("#c215 input");
  await waitEnabled(page, 218, false);
  c.disabledAgain = !(await enabled(page, 218));
  await page.keyboard.press("Escape");
  await page.waitForEvent("close", { timeout: 3000 }).catch(() => { c.notClosed = true; });
}

async function about(page) {
  const c = result.checks;
  await page.waitForSelector("#c263", { timeout: 20000 });
  await page.waitForFunction(() => document.getElementById("c263").textContent !== "VersionPlace", null, { timeout: 5000 });
  c.title = await page.title();
  c.version = await page.textContent("#c263");
  c.texts = await page.$$eval(".ctl", (es) => es.map((e) => e.textContent.trim()).filter((t) => t));
  c.link = await page.textContent("#c221");
  await page.click("#c221");
  await page.waitForFunction(() => document.getElementById("c221").classList.contains("visited"), null, { timeout: 3000 });
  c.visited = true;
  await page.screenshot({ path: path.join(artifacts, "about.png") });
  await page.click("#c2");
  await page.waitForEvent("close", { timeout: 3000 }).catch(() => { c.notClosed = true; });
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
  if (scenario === "options") await options(page);
  else if (scenario === "cancel") await cancel(page);
  else if (scenario === "about") await about(page);
  else throw new Error("unknown scenario " + scenario);
  result.ok = true;
  await finish(0);
} catch (e) {
  result.error = String(e && e.stack || e);
  await finish(2);
}
