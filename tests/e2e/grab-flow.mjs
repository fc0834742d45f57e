// The user of `quillory grab`, started by the program as its $BROWSER:
//   node grab-flow.mjs URL
// Every window the run opens starts one of these. The grab dialog: see the
// resources per kind and frame, switch scripts off, Save, see the marks,
// Exit. The progress window: wait for "Completed", close it. What was seen
// goes to $QUILLORY_E2E_RESULTS/<window>.json, screenshots to
// $QUILLORY_E2E_ARTIFACTS.
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const url = process.argv[2];
const artifacts = process.env.QUILLORY_E2E_ARTIFACTS;
const results = process.env.QUILLORY_E2E_RESULTS;
const role = /\/progress\.html(\?|#|$)/.test(url) ? "progress" : "dialog";
const result = { role, url, ok: false, checks: {}, pageErrors: [], dialogs: [] };
let context;
let profile;

async function finish(code) {
  fs.writeFileSync(path.join(results, role + ".json"), JSON.stringify(result, null, 1));
  try { if (context) await context.close(); } catch { }
  try { if (profile) fs.rmSync(profile, { recursive: true, force: true }); } catch { }
  process.exit(code);
}
// Bounded: a page that never gets where it should ends the driver.
setTimeout(() => { result.error = "driver deadline passed"; finish(3); }, 150000).unref();

async function dialog(page) {
  const c = result.checks;
  await page.waitForSelector(".qx-tab", { timeout: 30000 });
  c.kinds = await page.$$eval(".qx-tab", (tabs) => tabs.map((t) => t.getAttribute("data-kind")));
  c.frames = await page.$$eval(".qx-frame-url", (els) => els.map((e) => e.textContent));
  c.items = await page.$$eval(".qx-item", (els) => els.length);
  // A kind switched off through the page.
  // Its panel may not be the one shown: the tab first, as a user would.
  await page.evaluate(() => {
    document.querySelector('.qx-tab[data-kind="scripts"]').click();
    document.querySelector('.qx-option[data-option="GrabScript"]').click();
  });
  c.scriptOption = await page.$eval('.qx-option[data-option="GrabScript"]', (b) => b.checked);
  await page.screenshot({ path: path.join(artifacts, "grab-dialog.png") });
  // Save runs the downloads inside the call; the progress window is
  // another driver. The marks come once it has closed.
  const closed = page.waitForEvent("close", { timeout: 60000 }).then(() => "closed");
  // Clicked from a task of the page's own: the click runs the whole
  // download inside a synchronous call, which an input event would wait for.
  await page.evaluate(() => setTimeout(() => document.querySelector('[data-action="save"]').click(), 0));
  const marked = page.waitForFunction(() => document.querySelectorAll(".qx-saved, .qx-failed").length > 0,
                                      null, { timeout: 60000 }).then(() => "marked");
  c.afterSave = await Promise.race([marked, closed]);
  if (c.afterSave === "marked") {
    c.saved = await page.$$eval(".qx-saved", (els) => els.length);
    c.failed = await page.$$eval(".qx-failed", (els) => els.length);
    await page.screenshot({ path: path.join(artifacts, "grab-dialog-marked.png") });
    // AutoClose may already have ended the dialog.
    try { await page.evaluate(() => window.external.Exit()); } catch { }
  }
}

async function progress(page) {
  const c = result.checks;
  await page.waitForFunction(() => {
    const rows = [...document.querySelectorAll("#rows tr")];
    return rows.length > 0 && rows.every((tr) => tr.cells[4] && tr.cells[4].textContent !== "Downloading"
                                                  && tr.cells[4].textContent !== "");
  }, null, { timeout: 60000 });
  c.rows = await page.$$eval("#rows tr", (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent)));
  await page.screenshot({ path: path.join(artifacts, "progress.png") });
  await page.click("#close");
}

try {
  profile = fs.mkdtempSync(path.join(process.env.TMPDIR || os.tmpdir(), "quillory-e2e-"));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.QUILLORY_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  const page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(60000);
  page.on("pageerror", (e) => result.pageErrors.push(String(e.message)));
  page.on("dialog", (d) => { result.dialogs.push(d.message()); d.dismiss().catch(() => { }); });
  await page.goto(url);
  if (role === "dialog") await dialog(page);
  else await progress(page);
  result.ok = true;
  await finish(0);
} catch (e) {
  result.error = String(e && e.stack || e);
  await finish(2);
}
