#include "options/ContextHelp.h"

#include "options/ChmFile.h"

#include <charconv>
#include <mutex>

namespace {

// Pop-up files are a few kilobytes; this bounds what a hostile one costs.
constexpr std::size_t kMaxPopupFile = 1024 * 1024;

struct Loaded {
    bool readable = false;
    std::map<int, std::string> topics;
};

std::mutex g_mutex;
std::map<std::string, Loaded, std::less<>> g_files; // help path -> what it gave
std::size_t g_opens = 0;

std::string_view TrimBlankLines(std::string_view text)
{
    while (!text.empty() && (text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<int> TopicId(std::string_view line)
{
    constexpr std::string_view kTopic = ".topic";
    if (!line.starts_with(kTopic))
        return std::nullopt;
    line.remove_prefix(kTopic.size());
    if (line.empty() || (line.front() != ' ' && line.front() != '\t'))
        return std::nullopt;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    int id = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), id, 10);
    if (ec != std::errc {} || end != line.data() + line.size() || line.empty())
        return -1; // a topic line, but not one with a numeric id
    return id;
}

Loaded Load(const std::string& helpPath)
{
    Loaded loaded;
    auto chm = CChmFile::Open(helpPath);
    if (!chm)
        return loaded;
    auto text = chm->Read(kContextHelpFile, kMaxPopupFile);
    if (!text)
        return loaded;
    loaded.readable = true;
    loaded.topics = ParseContextHelpText(*text);
    return loaded;
}

} // namespace

std::map<int, std::string> ParseContextHelpText(std::string_view text)
{
    std::map<int, std::string> topics;
    std::optional<int> current;
    std::string body;
    auto finish = [&] {
        if (current && *current >= 0 && topics.size() < kMaxContextHelpTopics)
            topics.emplace(*current, std::string(TrimBlankLines(body)));
        body.clear();
    };
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto id = TopicId(line)) {
            finish();
            current = id;
            continue;
        }
        if (current) {
            body.append(line);
            body.push_back('\n');
        }
    }
    finish();
    return topics;
}

std::optional<std::string> ContextHelpText(const std::string& helpPath, int helpId)
{
    if (helpPath.empty())
        return std::nullopt;
    std::lock_guard lock(g_mutex);
    auto it = g_files.find(helpPath);
    if (it == g_files.end()) {
        ++g_opens;
        it = g_files.emplace(helpPath, Load(helpPath)).first;
    }
    if (!it->second.readable)
        return std::nullopt;
    auto topic = it->second.topics.find(helpId);
    if (topic == it->second.topics.end())
        return std::nullopt;
    return topic->second;
}

std::size_t ContextHelpFileOpens()
{
    std::lock_guard lock(g_mutex);
    return g_opens;
}
