#include "platform/html/ChromiumPageLoader.h"

#include "platform/html/ChromiumProcess.h"
#include "platform/html/SnapshotScript.h"
#include "platform/html/Url.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

namespace html {

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string AddressOf(std::string_view input, std::string& error)
{
    std::string text(input);
    text.erase(0, text.find_first_not_of(" \t\n\r\f"));
    text.erase(text.find_last_not_of(" \t\n\r\f") + 1);
    if (text.empty()) {
        error = "no address given";
        return {};
    }
    std::string scheme = SchemeOf(text);
    if (scheme.size() > 1) {
        if (scheme != "http" && scheme != "https" && scheme != "file") {
            error = "unsupported address scheme \"" + scheme + "\" for the Chromium loader: " + text;
            return {};
        }
        std::optional<std::string> url = ResolveUrl(text, "");
        if (!url || !OriginOf(*url)) {
            error = "malformed address: " + text;
            return {};
        }
        return *url;
    }
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(text, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
        error = "no such file: " + text;
        return {};
    }
    return FileUrlFromPath(path);
}

// Scrolls through the page a viewport at a time, so pictures that load
// when they come into view do, then back to the top.
constexpr const char* kScrollScript = R"js((async (steps) => {
  const pause = () => new Promise((r) => setTimeout(r, 120));
  for (let i = 1; i <= steps; ++i) {
    const root = document.scrollingElement || document.documentElement;
    const height = root ? root.scrollHeight : 0;
    const y = i * window.innerHeight;
    if (y >= height) break;
    window.scrollTo(0, y);
    await pause();
  }
  window.scrollTo(0, 0);
  return true;
}))js";

constexpr const char* kCheckScript = R"js(JSON.stringify({
  status: ((performance.getEntriesByType("navigation")[0] || {}).responseStatus) || 0,
  type: document.contentType || "",
  url: document.URL
}))js";

// One DevTools session over the browser's pipe.
class DevTools {
public:
    DevTools(ChromiumProcess& browser, const ChromiumOptions& options)
        : m_browser(browser)
        , m_options(options)
    {
    }

    // Sends a command and waits for its answer, handling events meanwhile.
    // The answer's "result", or nullopt with m_error set.
    std::optional<Json> Call(const std::string& method, Json params, Clock::time_point deadline, bool inSession = true)
    {
        const int id = ++m_lastId;
        Json message { { "id", id }, { "method", method }, { "params", std::move(params) } };
        if (inSession && !m_session.empty())
            message["sessionId"] = m_session;
        if (!m_browser.Send(message.dump(), deadline)) {
            m_error = "the browser did not take the command " + method;
            return std::nullopt;
        }
        for (;;) {
            std::optional<Json> m = Next(deadline);
            if (!m) {
                m_error = m_browser.lastError().empty() ? "the browser did not answer " + method + " in time" : m_browser.lastError();
                return std::nullopt;
            }
            if (m->contains("id") && (*m)["id"].is_number_integer() && (*m)["id"].get<int>() == id) {
                if (m->contains("error")) {
                    m_error = method + ": " + (*m)["error"].value("message", std::string("failed"));
                    return std::nullopt;
                }
                return m->contains("result") ? std::move((*m)["result"]) : Json::object();
            }
        }
    }

    // Handles events until the deadline or, when `until` is set, that event.
    bool Pump(Clock::time_point deadline, bool* until = nullptr)
    {
        while (!(until && *until)) {
            if (!Next(deadline))
                return until ? *until : !m_browser.lastError().empty() ? false : true;
        }
        return true;
    }

    std::string& session() { return m_session; }
    const std::string& error() const { return m_error; }
    bool loaded = false;

private:
    std::optional<Json> Next(Clock::time_point deadline)
    {
        std::optional<std::string> text = m_browser.Receive(deadline, m_options.maxMessageBytes);
        if (!text)
            return std::nullopt;
        Json m = Json::parse(*text, nullptr, false);
        if (!m.is_object())
            return Json::object();
        if (m.contains("method") && m["method"].is_string()) {
            const std::string& event = m["method"].get_ref<const std::string&>();
            if (event == "Page.loadEventFired") {
                loaded = true;
            } else if (event == "Page.javascriptDialogOpening") {
                // alert(), confirm() and friends would stop the page for good.
                Json answer { { "id", ++m_lastId }, { "method", "Page.handleJavaScriptDialog" },
                              { "params", { { "accept", true } } }, { "sessionId", m_session } };
                (void)m_browser.Send(answer.dump(), deadline);
            }
        }
        return m;
    }

    ChromiumProcess& m_browser;
    const ChromiumOptions& m_options;
    std::string m_session;
    std::string m_error;
    int m_lastId = 0;
};

bool IsHtmlType(const std::string& type)
{
    return type == "text/html" || type == "application/xhtml+xml";
}

} // namespace

bool ChromiumPageLoader::Snapshot(std::string_view urlOrPath, const ChromiumOptions& options, std::string& json, std::string& error,
                                  bool* unfinished)
{
    std::string url = AddressOf(urlOrPath, error);
    if (url.empty())
        return false;
    std::optional<std::filesystem::path> browserPath = ChromiumProcess::FindBrowser();
    if (!browserPath) {
        error = kChromiumMissing;
        return false;
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + options.totalTimeout;
    auto until = [&](std::chrono::milliseconds span) { return std::min(end, Clock::now() + span); };

    std::unique_ptr<ChromiumProcess> browser = ChromiumProcess::Start(*browserPath, { "--window-size=1280,1024" }, error);
    if (!browser)
        return false;
    DevTools dt(*browser, options);

    // 1. A page of our own, attached in flat mode.
    std::optional<Json> target = dt.Call("Target.createTarget", { { "url", "about:blank" } }, until(options.startTimeout), false);
    if (!target || !(*target)["targetId"].is_string()) {
        error = "Chromium did not start (" + browserPath->string() + "): " + dt.error();
        return false;
    }
    std::optional<Json> attached = dt.Call("Target.attachToTarget", { { "targetId", (*target)["targetId"] }, { "flatten", true } },
                                           until(options.startTimeout), false);
    if (!attached || !(*attached)["sessionId"].is_string()) {
        error = "Chromium: " + dt.error();
        return false;
    }
    dt.session() = (*attached)["sessionId"].get<std::string>();
    if (!dt.Call("Page.enable", Json::object(), until(options.startTimeout))) {
        error = "Chromium: " + dt.error();
        return false;
    }

    // 2. The page, to its load event (a page that never finishes loading
    //    is read as it stands when the time is up).
    const Clock::time_point pageDeadline = until(options.pageTimeout);
    std::optional<Json> nav = dt.Call("Page.navigate", { { "url", url } }, pageDeadline);
    if (!nav) {
        error = "cannot load " + url + ": " + dt.error();
        return false;
    }
    if (nav->contains("errorText") && (*nav)["errorText"].is_string() && !(*nav)["errorText"].get<std::string>().empty()) {
        error = "cannot load " + url + ": " + (*nav)["errorText"].get<std::string>();
        return false;
    }
    bool lateLoad = !dt.Pump(pageDeadline, &dt.loaded);

    auto evaluate = [&](const std::string& expression, bool awaitPromise, Clock::time_point deadline) -> std::optional<Json> {
        std::optional<Json> r = dt.Call("Runtime.evaluate", { { "expression", expression }, { "returnByValue", true },
                                                              { "awaitPromise", awaitPromise } }, deadline);
        if (r && r->contains("exceptionDetails")) {
            const Json& ex = (*r)["exceptionDetails"];
            std::string text = ex.value("text", std::string("exception"));
            if (ex.contains("exception") && ex["exception"].is_object())
                text += " " + ex["exception"].value("description", std::string());
            error = "the page's script failed: " + text.substr(0, 300);
            return std::nullopt;
        }
        if (!r)
            error = "Chromium: " + dt.error();
        return r;
    };

    // 3. What arrived: an HTML document, not an error page.
    std::optional<Json> check = evaluate(kCheckScript, false, until(options.pageTimeout));
    if (!check)
        return false;
    Json facts = Json::parse((*check)["result"].value("value", std::string("{}")), nullptr, false);
    if (facts.is_object()) {
        const int status = facts.value("status", 0);
        if (status >= 400) {
            error = "cannot load " + url + ": HTTP status " + std::to_string(status);
            return false;
        }
        const std::string type = facts.value("type", std::string());
        if (!IsHtmlType(type)) {
            error = "not an HTML document: " + facts.value("url", url) + " is " + (type.empty() ? "of unknown type" : type);
            return false;
        }
    }

    // 4. Lazy pictures come into view; late scripts get a moment.
    if (!lateLoad && options.maxScrollSteps > 0)
        (void)evaluate(std::string(kScrollScript) + "(" + std::to_string(options.maxScrollSteps) + ")", true, until(options.pageTimeout));
    dt.Pump(until(options.settle));

    // 5. The snapshot.
    std::optional<Json> snap = evaluate(std::string(SnapshotScript()), false, end);
    if (!snap)
        return false;
    Json& value = (*snap)["result"]["value"];
    if (!value.is_string()) {
        error = "the snapshot script gave no text";
        return false;
    }
    json = std::move(value.get_ref<std::string&>());
    if (unfinished)
        *unfinished = lateLoad;
    return true;
}

LoadResult ChromiumPageLoader::Load(std::string_view urlOrPath, const ChromiumOptions& options)
{
    std::string json;
    std::string error;
    bool unfinished = false;
    if (!Snapshot(urlOrPath, options, json, error, &unfinished))
        return LoadResult::Failure(error);
    LoadResult result = SnapshotLoader::Load(json, FetchMissing::Yes, options.load);
    if (result && unfinished)
        result.document().notes.push_back("the page had not finished loading when it was read");
    return result;
}

} // namespace html
