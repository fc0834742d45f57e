#include "platform/html/NestingLimiter.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

namespace html {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool In(std::string_view name, std::initializer_list<std::string_view> set)
{
    for (std::string_view s : set) {
        if (s == name)
            return true;
    }
    return false;
}

// Elements that never hold children.
bool IsVoid(std::string_view n)
{
    return In(n, { "area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img",
                   "input", "keygen", "link", "meta", "param", "source", "track", "wbr" });
}

// Elements the tree builder closes by itself when a sibling starts, and the
// document skeleton: they never build depth.
bool IsSelfClosing(std::string_view n)
{
    return In(n, { "p", "li", "dt", "dd", "option", "optgroup", "tr", "td", "th", "thead", "tbody", "tfoot",
                   "caption", "colgroup", "rb", "rt", "rtc", "rp", "html", "head", "body" });
}

// Elements whose content is text up to their own end tag.
bool IsRawText(std::string_view n)
{
    return In(n, { "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes" });
}

// Case-insensitive search for "</name" from position at.
std::size_t FindEndTag(std::string_view s, std::size_t at, std::string_view name)
{
    for (std::size_t i = s.find("</", at); i != std::string_view::npos; i = s.find("</", i + 2)) {
        if (i + 2 + name.size() > s.size())
            return std::string_view::npos;
        bool match = true;
        for (std::size_t k = 0; k < name.size() && match; ++k)
            match = Lower(s[i + 2 + k]) == name[k];
        if (match)
            return i;
    }
    return std::string_view::npos;
}

// End of a tag starting at at (just after its name): the position after '>'
// honouring quoted attribute values, or npos.
std::size_t TagEnd(std::string_view s, std::size_t at)
{
    char quote = 0;
    bool afterEquals = false;
    for (std::size_t i = at; i < s.size(); ++i) {
        char c = s[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '>')
            return i + 1;
        if ((c == '"' || c == '\'') && afterEquals) {
            quote = c;
            afterEquals = false;
            continue;
        }
        if (c == '=')
            afterEquals = true;
        else if (!IsSpace(c))
            afterEquals = false;
    }
    return std::string_view::npos;
}

} // namespace

NestingLimitResult LimitNesting(std::string_view s, std::size_t maxDepth)
{
    NestingLimitResult result;
    std::vector<std::string> open;                      // counted open elements, bounded by maxDepth
    std::unordered_map<std::string, std::size_t> openCount;
    std::unordered_map<std::string, std::size_t> dropped; // start tags removed, awaiting their end tags
    std::string out;
    std::size_t copiedUpTo = 0; // s[copiedUpTo, ...) not yet copied to out

    auto drop = [&](std::size_t from, std::size_t to) {
        if (out.empty())
            out.reserve(s.size());
        out.append(s.substr(copiedUpTo, from - copiedUpTo));
        copiedUpTo = to;
        ++result.droppedTags;
    };

    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t lt = s.find('<', i);
        if (lt == std::string_view::npos || lt + 1 >= s.size())
            break;
        char next = s[lt + 1];
        if (s.compare(lt, 4, "<!--") == 0) {
            // HTML comments also end abruptly ("<!-->", "<!--->") and at "--!>".
            if (s.compare(lt + 4, 1, ">") == 0) {
                i = lt + 5;
            } else if (s.compare(lt + 4, 2, "->") == 0) {
                i = lt + 6;
            } else {
                std::size_t end = std::min(s.find("-->", lt + 4), s.find("--!>", lt + 4));
                i = end == std::string_view::npos ? s.size() : end + (s[end + 2] == '!' ? 4 : 3);
            }
            continue;
        }
        if (next == '!' || next == '?') {
            std::size_t end = s.find('>', lt);
            i = end == std::string_view::npos ? s.size() : end + 1;
            continue;
        }
        bool isEnd = next == '/';
        std::size_t nameAt = lt + (isEnd ? 2 : 1);
        if (nameAt >= s.size() || !IsAlpha(s[nameAt])) {
            i = lt + 1;
            continue;
        }
        std::size_t nameEnd = nameAt;
        std::string name;
        while (nameEnd < s.size() && !IsSpace(s[nameEnd]) && s[nameEnd] != '/' && s[nameEnd] != '>') {
            if (name.size() < 64)
                name.push_back(Lower(s[nameEnd]));
            ++nameEnd;
        }
        std::size_t tagEnd = TagEnd(s, nameEnd);
        if (tagEnd == std::string_view::npos)
            break;
        i = tagEnd;

        if (isEnd) {
            auto d = dropped.find(name);
            if (d != dropped.end() && d->second > 0) {
                --d->second;
                drop(lt, tagEnd);
                continue;
            }
            auto c = openCount.find(name);
            if (c != openCount.end() && c->second > 0) {
                // Close up to and including the innermost element of that name.
                while (!open.empty()) {
                    std::string top = std::move(open.back());
                    open.pop_back();
                    --openCount[top];
                    if (top == name)
                        break;
                }
            }
            continue;
        }

        if (name == "plaintext")
            break; // the rest of the text is text
        if (IsRawText(name)) {
            std::size_t end = FindEndTag(s, tagEnd, name);
            i = end == std::string_view::npos ? s.size() : end;
            continue;
        }
        if (IsVoid(name) || IsSelfClosing(name))
            continue;
        if (open.size() >= maxDepth) {
            ++dropped[name];
            drop(lt, tagEnd);
            continue;
        }
        open.push_back(name);
        ++openCount[name];
    }

    if (result.droppedTags == 0) {
        result.text.assign(s);
    } else {
        out.append(s.substr(copiedUpTo));
        result.text = std::move(out);
    }
    return result;
}

} // namespace html
