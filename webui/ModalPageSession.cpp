#include "webui/ModalPageSession.h"

#include "platform/ui/View.h"
#include "webui/WebPages.h"

#include <algorithm>
#include <filesystem>

#include <fnmatch.h>

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

PickerSession::PickerSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, Request request)
    : ModalPageSession(std::move(id), std::move(loop))
    , m_request(std::move(request))
{
    // "Text File (*.txt)|*.txt": the first pair's patterns, split by ';'.
    const std::size_t bar = m_request.filter.find('|');
    if (bar == std::string::npos)
        return;
    std::string_view rest = std::string_view(m_request.filter).substr(bar + 1);
    rest = rest.substr(0, rest.find('|'));
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        if (end > 0)
            m_patterns.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
}

std::string PickerSession::PageText() const
{
    return PickerPage({});
}

bool PickerSession::Matches(const std::string& name) const
{
    if (m_patterns.empty())
        return true;
    // Case does not matter, as in the Windows file dialog.
    return std::any_of(m_patterns.begin(), m_patterns.end(),
                       [&](const std::string& p) { return ::fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0; });
}

json PickerSession::List(const std::string& requested) const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // Symbolic links are resolved here, so a loop of them fails (ELOOP)
    // instead of growing the path for ever.
    const fs::path path = fs::weakly_canonical(fs::path(requested), ec);
    if (ec || !path.is_absolute() || !fs::is_directory(path, ec))
        return json { { "error", "This folder cannot be opened." } };
    fs::directory_iterator it(path, ec);
    if (ec)
        return json { { "error", "This folder cannot be read." } };
    std::vector<std::pair<bool, std::string>> entries; // (is a file, name)
    bool truncated = false;
    std::size_t scanned = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (++scanned > kMaxScanned || entries.size() >= kMaxEntries) {
            truncated = true;
            break;
        }
        std::error_code typeError;
        std::string name = it->path().filename().string();
        // A link that leads nowhere (or in a circle) is neither.
        if (it->is_directory(typeError))
            entries.emplace_back(false, std::move(name));
        else if (m_request.kind == Kind::SaveFile && it->is_regular_file(typeError) && Matches(name))
            entries.emplace_back(true, std::move(name));
    }
    std::sort(entries.begin(), entries.end());
    json list = json::array();
    for (auto& [file, name] : entries)
        list.push_back({ { "name", std::move(name) }, { "dir", !file } });
    const bool top = !path.has_parent_path() || path == path.root_path();
    return json { { "path", path.string() }, { "parent", top ? std::string() : path.parent_path().string() },
                  { "entries", std::move(list) }, { "truncated", truncated || static_cast<bool>(ec) },
                  { "limit", kMaxEntries } };
}

json PickerSession::Choose(const json& body)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (m_request.kind == Kind::Folder) {
        const fs::path chosen = fs::weakly_canonical(fs::path(body.value("path", std::string())), ec);
        if (ec || !chosen.is_absolute() || !fs::is_directory(chosen, ec))
            return json { { "error", "This folder cannot be opened." } };
        SetAnswer(ui::IDOK, chosen.string());
        return json::object();
    }
    // A typed name is taken in the folder shown unless it is a full path;
    // its folder must exist, the file need not.
    const std::string name = body.value("name", std::string());
    const fs::path typed(name);
    const fs::path target = typed.is_absolute() ? typed : fs::path(body.value("folder", std::string())) / typed;
    const fs::path file = target.filename();
    if (name.empty() || file.empty() || file == "." || file == "..")
        return json { { "error", "Type a file name." } };
    const fs::path folder = fs::weakly_canonical(target.parent_path(), ec);
    if (ec || !folder.is_absolute() || !fs::is_directory(folder, ec))
        return json { { "error", "This folder cannot be opened." } };
    if (fs::is_directory(folder / file, ec))
        return json { { "error", "This is a folder." } };
    SetAnswer(ui::IDOK, (folder / file).string());
    return json::object();
}

json PickerSession::Handle(std::string_view verb, const json& body, int& status)
{
    if (verb == "info") {
        return json { { "title", m_request.title }, { "start", m_request.start },
                      { "files", m_request.kind == Kind::SaveFile }, { "name", m_request.name },
                      { "filter", m_request.filter.substr(0, m_request.filter.find('|')) } };
    }
    if (verb == "list")
        return List(body.value("path", m_request.start));
    if (verb == "command") {
        const int id = body.value("id", 0);
        if (id == ui::IDOK)
            return Choose(body);
        if (id == ui::IDCANCEL)
            SetAnswer(ui::IDCANCEL);
        return json::object();
    }
    status = 404;
    return json::object();
}

} // namespace webui
