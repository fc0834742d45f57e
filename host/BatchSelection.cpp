#include "host/BatchSelection.h"

#include "platform/xml/Document.h"

#include <set>

namespace host {
namespace {

bool Downloadable(std::string_view url, bool localPage)
{
    const auto colon = url.find("://");
    if (colon == std::string_view::npos)
        return false;
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mms" || (localPage && scheme == "file");
}

struct Walk {
    const KindSwitches& kinds;
    bool localPage;
    std::size_t limit;
    std::vector<std::string> out;
    std::set<std::string> seen;

    void Items(const xml::Element& section)
    {
        for (const xml::Element& item : section.ChildElements()) {
            if (out.size() >= limit)
                return;
            if (item.Name() != "item")
                continue;
            const auto src = item.GetAttribute("src");
            if (src && Downloadable(*src, localPage) && seen.insert(*src).second)
                out.push_back(*src);
        }
    }

    // Frames nest; the depth is bounded by what the XML parser accepts,
    // and the walk keeps its own bound as well.
    void Frame(const xml::Element& frame, int depth)
    {
        if (depth > 256)
            return;
        for (const xml::Element& child : frame.ChildElements()) {
            const std::string name = child.Name();
            if (name == "frame")
                Frame(child, depth + 1);
            else if ((name == "images" && kinds.images) || (name == "css" && kinds.css)
                     || (name == "scripts" && kinds.scripts))
                Items(child);
            else if (name == "objects") {
                for (const xml::Element& kind : child.ChildElements()) {
                    const std::string k = kind.Name();
                    if ((k == "flashes" && kinds.flash) || (k == "qts" && kinds.quickTime)
                        || (k == "rps" && kinds.realPlayer) || (k == "mps" && kinds.mediaPlayer))
                        Items(kind);
                }
            }
        }
    }
};

} // namespace

std::vector<std::string> SelectForBatch(std::string_view filteredResourceXml, const KindSwitches& kinds, bool localPage,
                                        std::size_t limit)
{
    xml::Document doc;
    if (!doc.LoadXml(filteredResourceXml))
        return {};
    const auto root = doc.DocumentElement();
    if (!root || root->Name() != "frame")
        return {};
    Walk walk { kinds, localPage, limit, {}, {} };
    walk.Frame(*root, 0);
    return std::move(walk.out);
}

} // namespace host
