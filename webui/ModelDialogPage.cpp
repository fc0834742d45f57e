#include "webui/ModelDialogPage.h"

#include "options/DialogModel.h"
#include "webui/WebPages.h"

namespace webui {

using nlohmann::json;

namespace {

constexpr const char* kHtml = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title></title>
<style>
html, body { margin: 0; background: ButtonFace; font: 11px "DejaVu Sans", Tahoma, sans-serif; }
#dlg { position: relative; margin: 0; }
.ctl { position: absolute; box-sizing: border-box; margin: 0; white-space: nowrap; }
fieldset.ctl { border: 1px solid #a0a0a0; padding: 0; }
fieldset.ctl legend { padding: 0 2px; margin-left: 6px; }
label.ctl { display: flex; align-items: center; gap: 3px; }
label.ctl input { margin: 0; }
input.ctl { font: inherit; padding: 1px 3px; }
button.ctl { font: inherit; padding: 0; }
button.defbutton { outline: 1px solid #000; }
a.ctl { color: #0000ee; }
a.ctl.visited { color: #551a8b; }
hr.ctl { border: 0; border-top: 1px solid #a0a0a0; border-bottom: 1px solid #fff; height: 0; }
.icon { background: #2f6fb5; border-radius: 4px; color: #fff; font-weight: bold; text-align: center; }
[disabled] { color: GrayText; }
label.disabled { color: GrayText; }
#helpbtn { position: absolute; right: 4px; top: 2px; width: 18px; height: 16px; font: bold 11px sans-serif; padding: 0; }
body.helpmode, body.helpmode * { cursor: help !important; }
#popup { position: absolute; display: none; max-width: 260px; padding: 6px 8px; background: InfoBackground;
         color: InfoText; border: 1px solid #000; box-shadow: 2px 2px 3px rgba(0,0,0,.4); white-space: pre-wrap; z-index: 10; }
</style></head>
<body><div id="dlg"></div><button id="helpbtn" title="Help" tabindex="-1">?</button><div id="popup" role="tooltip"></div>
<script src="page.js"></script>
<script src="dialog.js"></script>
</body></html>
)HTML";

constexpr const char* kScript = R"JS(
(function () {
  var UX = 1.5, UY = 1.625;
  var q = window.quillory, els = {}, built = false, helpMode = false, lastRev = -1, defaultId = 0, pasted = false;
  var root = document.getElementById("dlg"), popup = document.getElementById("popup");
  function px(v, u) { return Math.round(v * u) + "px"; }
  // Separate requests may overtake one another on their way to the dialog:
  // each waits for the one before, so the last keystroke lands before OK.
  var acted = Promise.resolve();
  function act(verb, body) {
    acted = acted.then(function () { return q.post(verb, body); }).catch(function () { });
    return acted;
  }
  function build(s) {
    document.title = s.caption;
    root.style.width = px(s.width, UX);
    root.style.height = px(s.height, UY);
    s.controls.forEach(function (c) {
      var e, focus;
      switch (c.kind) {
      case "groupbox":
        e = document.createElement("fieldset");
        var lg = document.createElement("legend"); lg.textContent = c.text; e.appendChild(lg);
        break;
      case "checkbox":
        e = document.createElement("label");
        focus = document.createElement("input"); focus.type = "checkbox";
        e.appendChild(focus); e.appendChild(document.createTextNode(c.text));
        focus.addEventListener("click", function (ev) { ev.preventDefault(); act("click", { id: c.id }); });
        e.box = focus;
        break;
      case "edit":
        e = focus = document.createElement("input"); e.type = "text"; e.spellcheck = false;
        if (c.digits) {
          e.inputMode = "numeric";
          e.addEventListener("beforeinput", function (ev) {
            pasted = ev.inputType === "insertFromPaste";
            if (!pasted && ev.data && /[^0-9]/.test(ev.data)) ev.preventDefault();
          });
        }
        e.addEventListener("input", function () {
          act(pasted ? "paste" : "type", { id: c.id, text: e.value }); pasted = false;
        });
        break;
      case "button": case "defbutton":
        e = focus = document.createElement("button"); e.textContent = c.text;
        e.addEventListener("click", function () { act("click", { id: c.id }); });
        if (c.kind === "defbutton") defaultId = c.id;
        break;
      case "link":
        e = focus = document.createElement("a"); e.href = "#"; e.textContent = c.text;
        e.addEventListener("click", function (ev) { ev.preventDefault(); act("click", { id: c.id }); });
        break;
      case "etched": e = document.createElement("hr"); break;
      case "icon": e = document.createElement("div"); e.textContent = "Q"; break;
      default: e = document.createElement("span"); e.textContent = c.text;
      }
      e.classList.add("ctl", c.kind);
      e.style.left = px(c.x, UX); e.style.top = px(c.y, UY);
      e.style.width = px(c.w, UX); e.style.height = px(c.h, UY);
      if (c.kind === "icon") e.style.lineHeight = px(c.h, UY);
      if (c.id) {
        e.id = "c" + c.id; e.dataset.id = c.id; els[c.id] = e;
        if (focus) focus.dataset.id = c.id;
      }
      root.appendChild(e);
    });
    document.getElementById("helpbtn").style.display = s.contextHelp ? "" : "none";
    built = true;
  }
  function apply(s) {
    if (!s || s.gone) return;
    if (!built) build(s);
    if (s.revision === lastRev) return;
    lastRev = s.revision;
    s.controls.forEach(function (c) {
      var e = els[c.id];
      if (!e) return;
      if (c.kind === "checkbox") {
        e.box.checked = c.checked; e.box.disabled = !c.enabled; e.classList.toggle("disabled", !c.enabled);
      } else if (c.kind === "edit") {
        // What the user is typing wins over an older state still on its way.
        if (document.activeElement !== e) e.value = c.text;
        e.disabled = !c.enabled;
      } else if (c.kind === "link") {
        e.classList.toggle("visited", c.checked);
      } else if (c.kind === "button" || c.kind === "defbutton") {
        e.disabled = !c.enabled;
      } else if (c.kind === "label") {
        e.textContent = c.text;
      }
    });
    if (s.popup) {
      var t = els[s.popup.id], r = t ? t.getBoundingClientRect() : { left: 10, bottom: 10 };
      popup.textContent = s.popup.text;
      popup.style.left = Math.round(r.left + 8) + "px"; popup.style.top = Math.round(r.bottom + 4) + "px";
      popup.style.display = "block";
    } else {
      popup.style.display = "none";
    }
  }
  // The templates were laid out for a narrower dialog font than the one a
  // machine may fall back to: a text wider than its box is set condensed,
  // then smaller, rather than cut off by the control beside it.
  function fit() {
    root.querySelectorAll("span.ctl, label.ctl, button.ctl, a.ctl").forEach(function (e) {
      var size = parseFloat(getComputedStyle(e).fontSize);
      if (e.scrollWidth > e.clientWidth) e.style.fontStretch = "condensed";
      while (e.scrollWidth > e.clientWidth && size > 8) {
        size -= 0.5;
        e.style.fontSize = size + "px";
      }
    });
  }
  function poll() { return q.post("state", {}).then(function (s) { var rev = lastRev; apply(s); if (lastRev !== rev) fit(); }); }
  function controlOf(node) {
    while (node && node !== document.body) { if (node.dataset && node.dataset.id) return +node.dataset.id; node = node.parentNode; }
    return 0;
  }
  document.getElementById("helpbtn").addEventListener("click", function (ev) {
    ev.stopPropagation(); helpMode = true; document.body.classList.add("helpmode");
  });
  document.addEventListener("click", function (ev) {
    if (popup.style.display === "block") act("dismiss", {});
    if (!helpMode) return;
    helpMode = false; document.body.classList.remove("helpmode");
    ev.preventDefault(); ev.stopPropagation();
    var id = controlOf(ev.target);
    if (id) act("help", { id: id }).then(poll);
  }, true);
  document.addEventListener("keydown", function (ev) {
    if (ev.key === "F1") {
      ev.preventDefault();
      var id = controlOf(document.activeElement);
      if (id) act("help", { id: id }).then(poll);
    } else if (ev.key === "Escape") {
      ev.preventDefault(); act("cancel", {});
    } else if (ev.key === "Enter" && defaultId && !(document.activeElement && document.activeElement.tagName === "BUTTON")) {
      ev.preventDefault(); act("click", { id: defaultId });
    }
  });
  window.addEventListener("help", function (ev) { ev.preventDefault(); });
  poll();
  setInterval(poll, 150);
})();
)JS";

} // namespace

ModelDialogSession::ModelDialogSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, CDialogModel& dialog)
    : PageSession(std::move(id))
    , m_loop(std::move(loop))
    , m_dialog(&dialog)
{
}

std::optional<PageSession::Served> ModelDialogSession::Get(std::string_view name)
{
    if (name == "page.html")
        return Served { ModelDialogHtml(), "text/html; charset=utf-8" };
    if (name == "page.js")
        return Served { PageRuntimeScript(), "text/javascript; charset=utf-8" };
    if (name == "dialog.js")
        return Served { ModelDialogScript(), "text/javascript; charset=utf-8" };
    return std::nullopt;
}

void ModelDialogSession::Close()
{
    m_dialog = nullptr;
    PageSession::Close();
}

json ModelDialogSession::State(const CDialogModel& dialog)
{
    const auto& frame = dialog.Frame();
    json controls = json::array();
    for (const auto& c : dialog.Controls()) {
        controls.push_back({ { "id", c.id }, { "kind", std::string(to_string(c.kind)) }, { "x", c.x }, { "y", c.y },
            { "w", c.width }, { "h", c.height }, { "text", c.text }, { "checked", c.checked }, { "enabled", c.enabled },
            { "digits", c.input == EditInput::DigitsOnly } });
    }
    json state { { "name", std::string(dialog.Name()) }, { "caption", frame.caption }, { "width", frame.width },
        { "height", frame.height }, { "contextHelp", frame.contextHelpButton }, { "revision", dialog.Revision() },
        { "controls", std::move(controls) }, { "popup", nullptr } };
    if (const auto& popup = dialog.Popup())
        state["popup"] = { { "id", popup->controlId }, { "text", popup->text } };
    return state;
}

json ModelDialogSession::Handle(std::string_view verb, const json& body, int& status)
{
    status = 200;
    auto self = std::static_pointer_cast<ModelDialogSession>(shared_from_this());
    if (verb == "state") {
        json state { { "gone", true } };
        // Read on the dialog's thread: the enable timer changes it there.
        InFlight busy(*this);
        m_loop->Send([&] {
            if (self->m_dialog)
                state = State(*self->m_dialog);
        });
        return state;
    }
    const int id = body.is_object() && body.contains("id") && body["id"].is_number_integer() ? body["id"].get<int>() : 0;
    std::string text;
    if (body.is_object() && body.contains("text") && body["text"].is_string())
        text = body["text"].get<std::string>();
    // What the user did is queued, in order, as input to the dialog's
    // window; a click may open a picker whose modal loop must not hold
    // this request.
    std::function<void(CDialogModel&)> action;
    if (verb == "type")
        action = [id, text](CDialogModel& d) { d.UserTypes(id, text); };
    else if (verb == "paste")
        action = [id, text](CDialogModel& d) {
            // Pasting bypasses the digits-only filter, as WM_PASTE does.
            if (d.IsEnabled(id))
                d.SetText(id, text);
        };
    else if (verb == "click")
        action = [id](CDialogModel& d) { d.UserClicks(id); };
    else if (verb == "help")
        action = [id](CDialogModel& d) { d.UserAsksHelp(id); };
    else if (verb == "dismiss")
        action = [](CDialogModel& d) { d.DismissPopup(); };
    else if (verb == "cancel")
        action = [](CDialogModel& d) { d.PostClose(); };
    else
        return PageSession::Handle(verb, body, status);
    m_loop->Post([self, action = std::move(action)] {
        if (self->m_dialog && self->m_dialog->state() == ui::Dialog::State::Shown)
            action(*self->m_dialog);
    });
    return json::object();
}

void ModelDialogShowing::Close()
{
    if (session) {
        session->Close();
        if (server)
            server->RemovePage(session->Id());
        session.reset();
    }
    if (window) {
        window->Close();
        window.reset();
    }
}

ModelDialogShowing ShowModelDialog(WebView& view, CDialogModel& dialog)
{
    ModelDialogShowing showing;
    showing.server = view.Server();
    const std::string id = UiServer::RandomHex(16);
    showing.session = std::make_shared<ModelDialogSession>(id, ui::MessageLoop::CurrentRef(), dialog);
    showing.server->AddPage(showing.session);
    const auto& frame = dialog.Frame();
    WindowRequest request { showing.server->Origin() + showing.server->PageBase(id) + "page.html",
        std::string(dialog.Name()), static_cast<int>(frame.width * ModelDialogSession::kUnitX) + 16,
        static_cast<int>(frame.height * ModelDialogSession::kUnitY) + 40, 0 };
    showing.window = view.OpenWindow(std::move(request));
    PageSession::Timing timing = view.GetOptions().timing;
    if (!showing.window || showing.window->Kind() == BrowserWindow::How::Printed)
        timing.firstContact = {};
    showing.session->Watch(ui::MessageLoop::CurrentRef(), timing, [&dialog] { dialog.PostClose(); });
    return showing;
}

std::string ModelDialogHtml()
{
    return kHtml;
}

std::string ModelDialogScript()
{
    return kScript;
}

} // namespace webui
