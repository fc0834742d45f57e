#pragma once
// Runs the extractors over a page and then over every frame document it can
// read, nesting one "frame" section per frame.
#include "discovery/ExtractorGroup.h"

#include <cstdint>

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CFrameProcessor : public CExtractorGroup {
public:
    // Mask bits: import the sections of frames hosted by <frame> elements,
    // and of those hosted by <iframe> elements.
    static constexpr std::uint32_t kFrames = 1;
    static constexpr std::uint32_t kIFrames = 2;
    // Frame nesting followed below the page. Page loaders stop far earlier;
    // the bound keeps a hand-made or hostile model from exhausting the stack
    // and the resource document within the XML parser's nesting limit.
    static constexpr int kMaxFrameDepth = 32;

    explicit CFrameProcessor(std::uint32_t mask) : CFrameProcessor(mask, 0) {}

    void Process(const html::Document& document) override;

private:
    CFrameProcessor(std::uint32_t mask, int depth) : CExtractorGroup("frame"), m_mask(mask), m_depth(depth) {}

    std::uint32_t m_mask;
    int m_depth;
};

} // namespace QVXMLInfoExtractors
