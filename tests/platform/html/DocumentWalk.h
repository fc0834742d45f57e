#pragma once
// Walks over the element tree that the loader and parser tests share.
#include "platform/html/HtmlDocument.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace htmltest {

// The nodes named `name`, in document order.
inline std::vector<const html::Node*> NodesNamed(const html::Node* root, std::string_view name)
{
    std::vector<const html::Node*> out, stack { root };
    while (!stack.empty()) {
        const html::Node* n = stack.back();
        stack.pop_back();
        if (!n)
            continue;
        if (n->nodeName == name)
            out.push_back(n);
        for (auto it = n->childNodes.rbegin(); it != n->childNodes.rend(); ++it)
            stack.push_back(it->get());
    }
    return out;
}

// Levels below and including `root`, counting elements only or every node.
// Iterative: a tree the limits failed to cut must fail the test, not the stack.
inline std::size_t TreeDepth(const html::Node& root, bool elementsOnly)
{
    std::size_t depth = 0;
    std::vector<std::pair<const html::Node*, std::size_t>> stack { { &root, 1 } };
    while (!stack.empty()) {
        auto [n, d] = stack.back();
        stack.pop_back();
        if (!elementsOnly || n->IsElement())
            depth = std::max(depth, d);
        for (const auto& c : n->childNodes)
            stack.push_back({ c.get(), d + 1 });
    }
    return depth;
}

// One line per frame: the hosting element as written, then the window's
// document address or why it has none, so a case reads as one comparison.
inline std::vector<std::string> FrameLines(const html::Document& doc)
{
    static constexpr const char* kRefusals[] = { "none", "other origin", "load failed", "depth limit", "frame limit" };
    std::vector<std::string> lines;
    for (const html::Frame& f : *doc.frames) {
        std::string line = f.frameElement ? f.frameElement->src + (f.frameElement->isIFrame ? " (iframe)" : " (frame)")
                                          : "(no element)";
        if (const html::Document* d = f.DocumentOrNull()) {
            line += " -> " + d->URL;
        } else {
            const HRESULT hr = f.document.hr();
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
            line += std::string(" refused: ") + kRefusals[static_cast<int>(f.refusal)] + ", "
                + (hr == E_ACCESSDENIED ? "E_ACCESSDENIED" : hr == E_ABORT ? "E_ABORT" : hex);
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace htmltest
