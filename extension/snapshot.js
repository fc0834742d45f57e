// The page as the browser holds it now, for Quillory's document model: run in
// the top document, it walks that document and every frame whose document it
// may read (same origin), and evaluates to one JSON string. One string is far
// faster to hand out of the page than a structured result on large pages.
//
// Used in two places: the extension runs it in the tab
// (chrome.scripting.executeScript, files: ["snapshot.js"]), the host runs it
// in headless Chromium (Runtime.evaluate). Both take the value of the last
// expression, so the file is one expression.
//
// Shape (version 1):
//   { v: 1, truncated: bool, doc: Doc }
//   Doc = { url, images: [Image], scripts: [{src, text}],
//           styleSheets: [{href, url, cssText, readable}],
//           frames: [{src, iframe, refused, doc?}], dom: Node,
//           objects: [{tag, parent, attrs: [[n, v]], params: [[n, v]]}] }
//   Image = { complete, src, href, width, height, size, type }
//   Node = [nodeName, [[name, value], ...], [child Node, ...]]  (elements)
//        | ["#text"] | ["#comment"]                             (character data)
// Everything the page controls is bounded below; what a bound cut off sets
// "truncated", and the host says so.
(() => {
  "use strict";
  const LIMITS = {
    frameDepth: 8,        // frame windows followed below the page
    frames: 64,           // frame documents read in the whole page
    elementDepth: 512,    // element nesting kept in the tree
    nodes: 400000,        // tree nodes in the whole snapshot
    items: 20000,         // entries of one collection
    textBytes: 4 << 20,   // one script's or sheet's text
    totalText: 64 << 20,  // all texts and attribute values together
  };
  let nodes = 0;
  let textBudget = LIMITS.totalText;
  let framesRead = 0;
  let truncated = false;

  const text = (value, cap = LIMITS.textBytes) => {
    let s = value == null ? "" : String(value);
    const limit = Math.min(cap, textBudget);
    if (s.length > limit) {
      s = s.slice(0, Math.max(0, limit));
      truncated = true;
    }
    textBudget -= s.length;
    return s;
  };

  // Byte sizes and types the browser recorded for this document's fetches.
  // Other origins without Timing-Allow-Origin report 0: unknown, the host
  // asks the server itself.
  const timings = (win) => {
    const byUrl = new Map();
    try {
      for (const e of win.performance.getEntriesByType("resource")) {
        const size = e.decodedBodySize || e.encodedBodySize || 0;
        byUrl.set(e.name, { size: size > 0 ? size : -1, type: e.contentType || "" });
      }
    } catch (_) { /* no timing in this window */ }
    return byUrl;
  };

  const attributesOf = (el) => {
    const out = [];
    // Element.attributes holds only the attributes the page gives (its
    // "specified" ones); defaults an element merely supports are absent.
    const list = el.attributes;
    for (let i = 0; i < list.length && i < LIMITS.items; ++i)
      out.push([list[i].name, text(list[i].value)]);
    return out;
  };

  const tree = (root) => {
    // Iterative, so a deep page never overflows the script's stack.
    const result = [root.nodeName.toUpperCase(), attributesOf(root), []];
    ++nodes;
    const stack = [[root, result, 1]];
    while (stack.length) {
      const [node, model, depth] = stack.pop();
      const pending = [];
      for (let c = node.firstChild; c; c = c.nextSibling) {
        if (nodes >= LIMITS.nodes) { truncated = true; break; }
        if (c.nodeType === 1) {
          if (depth + 1 > LIMITS.elementDepth) { truncated = true; continue; }
          const m = [c.nodeName.toUpperCase(), attributesOf(c), []];
          ++nodes;
          model[2].push(m);
          pending.push([c, m, depth + 1]);
        } else if (c.nodeType === 3 || c.nodeType === 4) {
          model[2].push(["#text"]);
          ++nodes;
        } else if (c.nodeType === 8) {
          model[2].push(["#comment"]);
          ++nodes;
        }
      }
      for (let i = pending.length - 1; i >= 0; --i)
        stack.push(pending[i]);
    }
    return result;
  };

  const readDocument = (doc, win, depth) => {
    const sizes = timings(win);
    const out = { url: doc.URL, images: [], scripts: [], styleSheets: [], frames: [], dom: null, objects: [] };

    const images = doc.images;
    for (let i = 0; i < images.length; ++i) {
      if (i >= LIMITS.items) { truncated = true; break; }
      const img = images[i];
      const href = img.currentSrc || img.src || "";
      const t = sizes.get(href) || { size: -1, type: "" };
      out.images.push({
        // A broken picture is "complete" too: only one with pixels counts.
        complete: img.complete && img.naturalWidth > 0,
        src: text(img.getAttribute("src"), 1 << 16),
        href: text(img.src, 1 << 16),
        width: img.width | 0,
        height: img.height | 0,
        size: t.size,
        type: t.type,
      });
    }

    const scripts = doc.scripts;
    for (let i = 0; i < scripts.length; ++i) {
      if (i >= LIMITS.items) { truncated = true; break; }
      const s = scripts[i];
      out.scripts.push({ src: text(s.getAttribute("src"), 1 << 16), text: text(s.text) });
    }

    const sheets = doc.styleSheets;
    for (let i = 0; i < sheets.length; ++i) {
      if (i >= LIMITS.items) { truncated = true; break; }
      const sheet = sheets[i];
      const owner = sheet.ownerNode;
      const written = owner && owner.nodeName === "LINK" ? owner.getAttribute("href") || "" : "";
      let css = "";
      let readable = true;
      try {
        const rules = sheet.cssRules;
        const parts = [];
        for (let r = 0; r < rules.length; ++r)
          parts.push(rules[r].cssText);
        css = parts.join("\n");
      } catch (_) {
        readable = false; // another origin's sheet: the host fetches it
      }
      out.styleSheets.push({ href: text(written, 1 << 16), url: text(sheet.href || "", 1 << 16), cssText: text(css), readable });
    }

    for (const el of doc.querySelectorAll("frame, iframe")) {
      if (!el.contentWindow)
        continue; // no window of its own (inside a template, or not connected)
      if (out.frames.length >= LIMITS.items) { truncated = true; break; }
      const frame = { src: text(el.getAttribute("src"), 1 << 16), iframe: el.nodeName === "IFRAME", refused: false };
      let inner = null;
      try {
        inner = el.contentDocument;
      } catch (_) {
        inner = null;
      }
      if (!inner) {
        frame.refused = true; // another origin: the browser denies access
      } else if (depth + 1 > LIMITS.frameDepth || framesRead >= LIMITS.frames) {
        frame.refused = true;
        frame.limit = true;
        truncated = true;
      } else {
        ++framesRead;
        frame.doc = readDocument(inner, el.contentWindow, depth + 1);
      }
      out.frames.push(frame);
    }

    if (doc.documentElement)
      out.dom = tree(doc.documentElement);

    // Plug-in markup in document order, each with the index of the nearest
    // <object>/<embed> around it, so the host can tell which ones the
    // browser would run and which are fallback content.
    const controls = Array.from(doc.querySelectorAll("object, embed")).slice(0, LIMITS.items);
    const index = new Map(controls.map((el, i) => [el, i]));
    for (const el of controls) {
      let parent = -1;
      for (let p = el.parentElement; p; p = p.parentElement) {
        if (index.has(p)) { parent = index.get(p); break; }
      }
      const params = [];
      if (el.nodeName === "OBJECT") {
        for (const c of el.children) {
          if (c.nodeName === "PARAM" && c.hasAttribute("name"))
            params.push([text(c.getAttribute("name"), 1 << 16), text(c.getAttribute("value") || "")]);
        }
      }
      out.objects.push({ tag: el.nodeName, parent, attrs: attributesOf(el), params });
    }
    return out;
  };

  const doc = readDocument(document, window, 0);
  return JSON.stringify({ v: 1, truncated, doc });
})();
