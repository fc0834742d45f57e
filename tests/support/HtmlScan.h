#pragma once
// Parses HTML the way a browser does (gumbo, HTML5 rules) and flattens it
// into elements with their attributes and text, for checks on what a page
// would actually build from the dialog's markup.
#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace testsupport {

struct ScannedElement {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text; // the element's own text children

    const std::string* Attr(const std::string& name) const
    {
        for (const auto& [n, v] : attributes)
            if (n == name)
                return &v;
        return nullptr;
    }
    bool Has(const std::string& name) const { return Attr(name) != nullptr; }
};

inline std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Every element of `html` parsed as the content of a body, in document order.
inline std::vector<ScannedElement> ScanHtml(const std::string& html)
{
    std::vector<ScannedElement> out;
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    std::vector<const GumboNode*> stack { output->root };
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        const GumboElement& e = node->v.element;
        ScannedElement s;
        if (e.tag == GUMBO_TAG_UNKNOWN) {
            GumboStringPiece piece = e.original_tag;
            gumbo_tag_from_original_text(&piece);
            s.tag = Lower(std::string(piece.data, piece.length));
        } else {
            s.tag = gumbo_normalized_tagname(e.tag);
        }
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
            s.attributes.emplace_back(Lower(a->name), a->value);
        }
        for (unsigned i = 0; i < e.children.length; ++i) {
            auto* c = static_cast<const GumboNode*>(e.children.data[i]);
            if (c->type == GUMBO_NODE_TEXT || c->type == GUMBO_NODE_WHITESPACE || c->type == GUMBO_NODE_CDATA)
                s.text += c->v.text.text;
        }
        out.push_back(std::move(s));
        for (unsigned i = e.children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(e.children.data[i]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return out;
}

inline std::vector<ScannedElement> WithClass(const std::vector<ScannedElement>& all, const std::string& cls)
{
    std::vector<ScannedElement> out;
    for (const auto& e : all) {
        const std::string* c = e.Attr("class");
        if (!c)
            continue;
        std::string padded = " " + *c + " ";
        if (padded.find(" " + cls + " ") != std::string::npos)
            out.push_back(e);
    }
    return out;
}

} // namespace testsupport
