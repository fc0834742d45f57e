#include "webui/ModalPageSession.h"

#include "platform/ui/View.h"
#include "webui/WebPages.h"

#include <algorithm>
#include <filesystem>

namespace webui {

using nlohmann::json;

ModalPageSession::ModalPageSession(std::string id, std::shared_ptr<ui::MessageLoop> loop)
    : PageSession(std::move(id))
    , m_loop(std::move(loop))
{
}

int ModalPageSession::AnswerId() const
{
    std::lock_guard lock(m_mutex);
    return m_answerId;
}

std::string ModalPageSession::AnswerText() const
{
    std::lock_guard lock(m_mutex);
    return m_answerText;
}

void ModalPageSession::SetAnswer(int id, std::string text)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_answered)
            return;
        m_answerId = id;
        m_answerText = std::move(text);
        m_answered = true;
    }
    if (m_loop)
        m_loop->Wake();
}

std::optional<PageSession::Served> ModalPageSession::Get(std::string_view name)
{
    if (name == "page.html")
        return Served { PageText(), "text/html; charset=utf-8" };
    if (name == "page.js")
        return Served { PageRuntimeScript(), "text/javascript; charset=utf-8" };
    return std::nullopt;
}

MessageBoxSession::MessageBoxSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, std::string text,
                                     std::string caption, std::uint32_t type)
    : ModalPageSession(std::move(id), std::move(loop))
    , m_text(std::move(text))
    , m_caption(std::move(caption))
    , m_type(type)
{
}

int MessageBoxSession::DismissAnswer() const
{
    switch (m_type & ui::MB_TYPEMASK) {
    case ui::MB_OKCANCEL: return ui::IDCANCEL;
    case ui::MB_YESNO: return ui::IDNO;
    default: return ui::IDOK;
    }
}

std::string MessageBoxSession::PageText() const
{
    return MessageBoxPage({});
}

json MessageBoxSession::Handle(std::string_view verb, const json& body, int& status)
{
    json buttons = json::array();
    switch (m_type & ui::MB_TYPEMASK) {
    case ui::MB_OKCANCEL:
        buttons = { { { "id", ui::IDOK }, { "label", "OK" } }, { { "id", ui::IDCANCEL }, { "label", "Cancel" } } };
        break;
    case ui::MB_YESNO:
        buttons = { { { "id", ui::IDYES }, { "label", "Yes" } }, { { "id", ui::IDNO }, { "label", "No" } } };
        break;
    default: buttons = { { { "id", ui::IDOK }, { "label", "OK" } } };
    }
    if (verb == "info") {
        const std::uint32_t icon = m_type & ui::MB_ICONMASK;
        const char* mark = icon == ui::MB_ICONERROR ? "\xE2\x9B\x94" // no entry
            : icon == ui::MB_ICONWARNING            ? "\xE2\x9A\xA0" // warning sign
            : icon == ui::MB_ICONQUESTION           ? "?"
            : icon == ui::MB_ICONINFORMATION        ? "\xE2\x84\xB9" // information
                                                    : "";
        return json { { "text", m_text }, { "caption", m_caption }, { "icon", mark }, { "buttons", buttons } };
    }
    if (verb == "command") {
        const int id = body.value("id", 0);
        // Only the box's own buttons answer it.
        for (const json& b : buttons)
            if (b["id"] == id)
                SetAnswer(id);
        return json::object();
    }
    status = 404;
    return json::object();
}

PickerSession::PickerSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, std::string title,
                             std::string start)
    : ModalPageSession(std::move(id), std::move(loop))
    , m_title(std::move(title))
    , m_start(std::move(start))
{
}

std::string PickerSession::PageText() const
{
    return PickerPage({});
}

json PickerSession::Handle(std::string_view verb, const json& body, int& status)
{
    namespace fs = std::filesystem;
    if (verb == "info")
        return json { { "title", m_title }, { "start", m_start } };
    if (verb == "list") {
        std::error_code ec;
        const fs::path path = fs::weakly_canonical(fs::path(body.value("path", m_start)), ec);
        if (ec || !path.is_absolute() || !fs::is_directory(path, ec))
            return json { { "error", "not a folder" } };
        std::vector<std::string> entries;
        fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::directory_iterator() && entries.size() < kMaxEntries; it.increment(ec)) {
            std::error_code typeError;
            if (it->is_directory(typeError))
                entries.push_back(it->path().filename().string());
        }
        std::sort(entries.begin(), entries.end());
        return json { { "path", path.string() }, { "parent", path.has_parent_path() && path != path.root_path() ? path.parent_path().string() : std::string() },
                      { "entries", entries } };
    }
    if (verb == "command") {
        const int id = body.value("id", 0);
        if (id == ui::IDOK) {
            std::error_code ec;
            const fs::path chosen = fs::weakly_canonical(fs::path(body.value("path", std::string())), ec);
            if (!ec && chosen.is_absolute() && fs::is_directory(chosen, ec))
                SetAnswer(ui::IDOK, chosen.string());
        } else if (id == ui::IDCANCEL) {
            SetAnswer(ui::IDCANCEL);
        }
        return json::object();
    }
    status = 404;
    return json::object();
}

} // namespace webui
