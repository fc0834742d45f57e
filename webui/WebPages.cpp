#include "webui/WebPages.h"

#include <cstdio>

namespace webui {

namespace {

// window.external: a Proxy whose every member access becomes a synchronous
// request, so that document.write(window.external.GetData(1)) works while
// the page is being parsed, exactly as with the old in-process object.
constexpr const char* kBridge = R"JS(
  var handles = new WeakMap();
  var closing = false;
  var DISP_E_UNKNOWNNAME = 0x80020006 | 0;
  var released = typeof FinalizationRegistry === "function"
    ? new FinalizationRegistry(function (h) { send("release", { handles: [h] }, true); }) : null;

  function hex(hr) { return "0x" + ("00000000" + (hr >>> 0).toString(16).toUpperCase()).slice(-8); }
  function run(commands) {
    (commands || []).forEach(function (c) {
      if (c.resize) { try { window.resizeTo(c.resize[0], c.resize[1]); } catch (e) { } }
      if (c.close) { closing = true; window.close(); }
    });
  }
  function send(verb, body, beacon) {
    var text = JSON.stringify(body || {});
    if (beacon && navigator.sendBeacon) {
      navigator.sendBeacon(config.base + verb, new Blob([text], { type: "text/plain" }));
      return null;
    }
    return fetch(config.base + verb, { method: "POST", headers: { "Content-Type": "application/json" }, body: text })
      .then(function (r) { return r.json(); })
      .then(function (a) { run(a.commands); return a; });
  }
  function failure(hr, message) {
    var error = new Error(message + " [" + hex(hr) + "]");
    error.number = hr | 0;
    error.description = error.message;
    return error;
  }
  function parse(xhr) {
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (e) { }
    if (!answer) throw new Error("window.external: no answer from the grabber (HTTP " + xhr.status + ")");
    run(answer.commands);
    if (answer.error) throw failure(answer.error.hresult, answer.error.message);
    return answer;
  }

  // The page is the grab dialog: while a window it opened is up, it takes
  // no input, as a disabled owner window takes none.
  // - A synchronous request freezes the page, and the browser hands it the
  //   clicks and keys of that time afterwards: those are dropped.
  // - Options and About return nothing, so the page does not wait for them
  //   (a waiting page cannot paint): it greys itself until they close, and
  //   refuses calls of its own meanwhile, as the object is busy with them.
  var SECONDARY = { showoptions: true, showabout: true };
  var frozen = [], secondaryOpen = false; // [from, until] of recent synchronous requests
  function deaf(e) {
    if (!e.isTrusted) return;
    if (secondaryOpen || frozen.some(function (f) { return e.timeStamp >= f[0] && e.timeStamp <= f[1]; })) {
      e.preventDefault();
      e.stopImmediatePropagation();
    }
  }
  ["keydown", "keypress", "keyup", "mousedown", "mouseup", "click", "dblclick", "auxclick", "contextmenu",
   "pointerdown", "pointerup", "beforeinput", "paste", "drop"].forEach(function (t) {
    window.addEventListener(t, deaf, true);
  });
  function veil(on) {
    var v = document.getElementById("quillory-modal");
    if (on && !v) {
      v = document.createElement("div");
      v.id = "quillory-modal";
      v.setAttribute("style", "position:fixed;inset:0;z-index:2147483647;background:rgba(128,128,128,.45);cursor:not-allowed");
      document.documentElement.appendChild(v);
    } else if (!on && v) {
      v.remove();
    }
    if (document.body) document.body.inert = on;
  }
  function secondary(body) {
    if (secondaryOpen) return undefined;
    secondaryOpen = true;
    veil(true);
    var xhr = new XMLHttpRequest();
    xhr.open("POST", config.base + "dispatch", true);
    xhr.setRequestHeader("Content-Type", "application/json");
    xhr.onloadend = function () {
      secondaryOpen = false;
      veil(false);
      try { parse(xhr); } catch (e) { if (!closing) console.error(e.message); }
    };
    xhr.send(JSON.stringify(body));
    return undefined;
  }

  // A synchronous request: script waits for the object, as it did for the
  // in-process object.
  function request(body) {
    if (secondaryOpen) throw failure(0x8000000A, "window.external: a window of the dialog is open");
    var xhr = new XMLHttpRequest();
    xhr.open("POST", config.base + "dispatch", false);
    xhr.setRequestHeader("Content-Type", "application/json");
    var started = performance.now();
    try {
      xhr.send(JSON.stringify(body));
    } finally {
      // Calls made back to back in one task (the page's loading) leave
      // their input to be handed over after the last one.
      frozen.push([started, performance.now()]);
      if (frozen.length > 64) frozen.shift();
    }
    return parse(xhr);
  }
  function toWire(v) {
    if (v === undefined || v === null) return null;
    if (typeof v === "boolean" || typeof v === "string" || typeof v === "number") return v;
    if (handles.has(v)) return { dispatch: handles.get(v) };
    return String(v);
  }
  function fromWire(answer) {
    if (!("value" in answer)) return undefined;
    var v = answer.value;
    if (v !== null && typeof v === "object" && "dispatch" in v) return proxy(v.dispatch);
    return v;
  }
  function proxy(h) {
    var methods = Object.create(null);
    var p = new Proxy(Object.create(null), {
      get: function (t, name) {
        if (typeof name !== "string" || name === "then") return undefined;
        if (methods[name]) return methods[name];
        var answer;
        try {
          answer = request({ op: "get", obj: h, name: name });
        } catch (e) {
          if ((name === "toString" || name === "valueOf") && e.number === DISP_E_UNKNOWNNAME)
            return function () { return "[object]"; };
          throw e;
        }
        if (answer.method) {
          var dispid = answer.dispid;
          var f = function () {
            var args = Array.prototype.map.call(arguments, toWire);
            var call = { op: "call", obj: h, dispid: dispid, name: name, args: args };
            if (h === 0 && SECONDARY[name.toLowerCase()]) return secondary(call);
            return fromWire(request(call));
          };
          methods[name] = f;
          return f;
        }
        return fromWire(answer);
      },
      set: function (t, name, value) {
        if (typeof name !== "string") return false;
        request({ op: "put", obj: h, name: name, value: toWire(value) });
        return true;
      },
      has: function (t, name) {
        if (typeof name !== "string") return false;
        try { request({ op: "has", obj: h, name: name }); return true; } catch (e) { return false; }
      },
      ownKeys: function () { return []; },
      getOwnPropertyDescriptor: function () { return undefined; },
      defineProperty: function () { return false; },
      deleteProperty: function () { return false; },
      getPrototypeOf: function () { return null; },
      setPrototypeOf: function () { return false; }
    });
    handles.set(p, h);
    if (released && h !== 0) released.register(p, h);
    return p;
  }

  Object.defineProperty(window, "external", { value: proxy(0), writable: false, configurable: false });
  if (!document.title && config.caption) document.title = config.caption;
  // The dialog shows no context menu, as its host switched it off.
  window.addEventListener("contextmenu", function (e) { e.preventDefault(); }, true);
  // A synchronous request fails during unload; a beacon does not.
  window.addEventListener("pagehide", function () { send("closed", {}, true); });
  setInterval(function () { var r = send("heartbeat", {}); if (r) r.catch(function () { }); }, 2000);
)JS";

// What every other page shares: requests, heartbeat, goodbye, no context
// menu, closing itself when told.
constexpr const char* kPageRuntime = R"JS(
window.quillory = (function () {
  var base = location.pathname.replace(/[^\/]*$/, "");
  function close() {
    window.close();
    setTimeout(function () { document.title = "Closed - " + document.title; }, 500);
  }
  function run(a) {
    ((a && a.commands) || []).forEach(function (c) {
      if (c.close) close();
      if (c.resize) { try { window.resizeTo(c.resize[0], c.resize[1]); } catch (e) { } }
    });
    return a;
  }
  function post(verb, body) {
    return fetch(base + verb, { method: "POST", headers: { "Content-Type": "application/json" },
                                body: JSON.stringify(body || {}) })
      .then(function (r) { return r.json(); }).then(run);
  }
  setInterval(function () { post("heartbeat", {}).catch(function () { }); }, 2000);
  window.addEventListener("pagehide", function () {
    navigator.sendBeacon(base + "closed", new Blob(["{}"], { type: "text/plain" }));
  });
  window.addEventListener("contextmenu", function (e) { e.preventDefault(); }, true);
  return { post: post, close: close, sleep: function (ms) { return new Promise(function (r) { setTimeout(r, ms); }); } };
})();
)JS";

constexpr const char* kProgressHtml = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Saving files...</title>
<style>
html, body { height: 100%; margin: 0; }
body { font: 13px sans-serif; background: ButtonFace; display: flex; flex-direction: column; padding: 8px; box-sizing: border-box; }
#list { flex: 1; overflow: auto; background: Window; border: 1px solid #888; }
table { border-collapse: collapse; table-layout: fixed; width: 1px; }
th { font-weight: normal; text-align: left; padding: 2px 4px; border-right: 1px solid #ccc; border-bottom: 1px solid #ccc;
     position: sticky; top: 0; background: ButtonFace; white-space: nowrap; overflow: hidden; }
td { padding: 1px 4px; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
#bar { text-align: right; padding-top: 8px; }
button { min-width: 75px; }
</style></head>
<body>
<div id="list"><table>
<colgroup><col style="width:180px"><col style="width:180px"><col id="protocol"><col style="width:60px"><col style="width:70px"></colgroup>
<thead><tr><th>File</th><th>Url</th><th id="protocolTitle">Protocol</th><th>Ratio</th><th>Status</th></tr></thead>
<tbody id="rows"></tbody></table></div>
<div id="bar"><button id="close" autofocus>Close</button></div>
<script src="page.js"></script>
<script src="progress.js"></script>
</body></html>
)HTML";

constexpr const char* kProgressScript = R"JS(
(function () {
  var rows = document.getElementById("rows");
  var title = document.getElementById("protocolTitle");
  // "Protocol" is as wide as its title plus 15 pixels; the others are fixed.
  var measure = document.createElement("span");
  measure.style.position = "absolute";
  measure.style.whiteSpace = "nowrap";
  measure.textContent = title.textContent;
  document.body.appendChild(measure);
  document.getElementById("protocol").style.width = (measure.offsetWidth + 15 + 8) + "px";
  measure.remove();

  var version = 0, done = false;
  function apply(a) {
    (a.rows || []).forEach(function (r) {
      while (rows.rows.length <= r.row) {
        var tr = rows.insertRow();
        for (var i = 0; i < 5; i++) tr.insertCell();
      }
      var row = rows.rows[r.row];
      r.cells.forEach(function (text, i) {
        var td = row.cells[i];
        if (td.textContent !== text) { td.textContent = text; td.title = text; }
      });
      row.className = r.finished ? "finished" : "";
    });
    if (typeof a.version === "number") version = a.version;
  }
  async function loop() {
    while (!done) {
      var a;
      try { a = await quillory.post("poll", { since: version }); }
      catch (e) { await quillory.sleep(1000); continue; }
      if (a.gone || a.closed) { done = true; quillory.close(); return; }
      apply(a);
      // At most about ten updates a second, however fast the rows change.
      await quillory.sleep(100);
    }
  }
  document.getElementById("close").addEventListener("click", function () { quillory.post("command", { id: 1 }); });
  loop();
})();
)JS";

constexpr const char* kMessageBoxHtml = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title></title>
<style>
body { font: 13px sans-serif; background: ButtonFace; margin: 16px; }
#box { display: flex; gap: 12px; align-items: flex-start; }
#icon { font-size: 28px; line-height: 1; }
#text { white-space: pre-wrap; margin-top: 4px; }
#buttons { text-align: center; margin-top: 20px; }
button { min-width: 75px; margin: 0 4px; }
</style></head>
<body><div id="box"><div id="icon"></div><div id="text"></div></div><div id="buttons"></div>
<script src="page.js"></script>
<script>
quillory.post("info", {}).then(function (info) {
  document.title = info.caption;
  document.getElementById("text").textContent = info.text;
  document.getElementById("icon").textContent = info.icon || "";
  info.buttons.forEach(function (b, i) {
    var button = document.createElement("button");
    button.textContent = b.label;
    button.addEventListener("click", function () { quillory.post("command", { id: b.id }); });
    document.getElementById("buttons").appendChild(button);
    if (i === 0) button.focus();
  });
});
</script></body></html>
)HTML";

// The folder picker, and with "files" in its info the save-style file
// picker. Every name from the file system goes in as text, never as markup.
constexpr const char* kPickerHtml = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title></title>
<style>
html, body { height: 100%; margin: 0; }
body { font: 13px sans-serif; background: ButtonFace; display: flex; flex-direction: column; padding: 8px; box-sizing: border-box; }
#path { font-weight: bold; margin: 4px 0 8px; word-break: break-all; }
#list { flex: 1; overflow: auto; background: Window; border: 1px solid #888; }
#list div { padding: 2px 6px; cursor: default; white-space: nowrap; }
#list div.dir::after { content: "/"; color: GrayText; }
#list div.sel { background: Highlight; color: HighlightText; }
#note, #error { margin-top: 4px; }
#note:empty, #error:empty { display: none; }
#error { color: #b00000; }
#file { display: none; margin-top: 8px; gap: 6px; align-items: center; }
body.files #file { display: flex; }
#name { flex: 1; font: inherit; }
#bar { text-align: right; padding-top: 8px; }
button { min-width: 75px; margin-left: 6px; }
</style></head>
<body><div id="title"></div><div id="path"></div><div id="list"></div><div id="note"></div>
<div id="file"><label for="name">File name:</label><input id="name" spellcheck="false"><span id="filter"></span></div>
<div id="error" role="alert"></div>
<div id="bar"><button id="up">Up</button><button id="ok">OK</button><button id="cancel">Cancel</button></div>
<script src="page.js"></script>
<script>
(function () {
  var current = "", parent = "", selected = null, files = false, entries = [];
  var $ = function (id) { return document.getElementById(id); };
  function join(name) { return current.replace(/\/$/, "") + "/" + name; }
  // Refusals of a listing or a choice show under the list.
  function report(a) {
    $("error").textContent = (a && a.error) || "";
    return a && !a.error && !a.gone;
  }
  function show(a) {
    if (!report(a) || !a.entries) return;
    current = a.path; parent = a.parent; selected = null; entries = a.entries;
    $("path").textContent = current;
    $("note").textContent = a.truncated ? "Only the first " + a.limit + " entries of this folder are shown." : "";
    var list = $("list");
    list.textContent = "";
    a.entries.forEach(function (e) {
      var d = document.createElement("div");
      d.textContent = e.name;
      if (e.dir) d.className = "dir";
      d.addEventListener("click", function () {
        if (selected) selected.classList.remove("sel");
        selected = d; d.classList.add("sel");
        if (files && !e.dir) $("name").value = e.name;
      });
      d.addEventListener("dblclick", function () { if (e.dir) open(join(e.name)); else choose(e.name); });
      list.appendChild(d);
    });
  }
  // Only the listing last asked for is shown, however the answers arrive.
  var asked = 0;
  function open(path) {
    var mine = ++asked;
    quillory.post("list", { path: path }).then(function (a) { if (mine === asked) show(a); });
  }
  function choose(name) {
    // A typed folder name opens that folder, as in the system's dialog.
    if (entries.some(function (e) { return e.dir && e.name === name; })) return open(join(name));
    quillory.post("command", { id: 1, folder: current, name: name }).then(report);
  }
  $("up").addEventListener("click", function () { if (parent) open(parent); });
  $("ok").addEventListener("click", function () {
    if (files) return choose($("name").value);
    var path = selected ? join(selected.textContent) : current;
    quillory.post("command", { id: 1, path: path }).then(report);
  });
  $("name").addEventListener("keydown", function (ev) { if (ev.key === "Enter") choose($("name").value); });
  $("cancel").addEventListener("click", function () { quillory.post("command", { id: 2 }); });
  quillory.post("info", {}).then(function (info) {
    document.title = info.title;
    $("title").textContent = info.title;
    files = !!info.files;
    document.body.classList.toggle("files", files);
    $("name").value = info.name || "";
    $("filter").textContent = info.filter || "";
    open(info.start);
  });
})();
</script></body></html>
)HTML";

} // namespace

std::string ScriptString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        // "</script>" and "<!--" must not appear inside a script element.
        case '<': out += "\\u003C"; break;
        case '>': out += "\\u003E"; break;
        case '&': out += "\\u0026"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    // U+2028 and U+2029 end lines in older script engines.
    for (std::size_t at = out.find("\xE2\x80\xA8"); at != std::string::npos; at = out.find("\xE2\x80\xA8", at))
        out.replace(at, 3, "\\u2028");
    for (std::size_t at = out.find("\xE2\x80\xA9"); at != std::string::npos; at = out.find("\xE2\x80\xA9", at))
        out.replace(at, 3, "\\u2029");
    return out + "\"";
}

std::string BridgeScript(const std::string& pageBase, const std::string& caption)
{
    return "(function () {\n  \"use strict\";\n  var config = { base: " + ScriptString(pageBase)
        + ", caption: " + ScriptString(caption) + " };\n" + kBridge + "})();\n";
}

std::string BlankDialogPage(const std::string& pageBase)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><script src=\"" + pageBase
        + "bridge.js\"></script></head><body style=\"background-color:buttonface\"></body></html>\n";
}

std::string ProgressPage(const std::string&)
{
    return kProgressHtml;
}

std::string MessageBoxPage(const std::string&)
{
    return kMessageBoxHtml;
}

std::string PickerPage(const std::string&)
{
    return kPickerHtml;
}

std::string PageRuntimeScript()
{
    return kPageRuntime;
}

std::string ProgressScript()
{
    return kProgressScript;
}

} // namespace webui
