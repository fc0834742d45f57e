// Fuzzes what a hostile page controls on its way to the grab dialog: its
// markup (parsed as the static loader does) or a live-DOM snapshot (as the
// extension sends it), then the whole discovery run. Nothing may crash or
// read out of bounds, and whatever resource document the run gives must be
// well-formed XML, before and after its frame sources are made absolute
// (the dialog's page is built from it by XSLT).
//
// Input: one selector byte (even: HTML markup, odd: snapshot JSON), then
// the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "discovery/ResourceDocument.h"
#include "platform/html/HtmlParser.h"
#include "platform/html/SnapshotLoader.h"
#include "platform/xml/Document.h"

namespace {

[[noreturn]] void Fail(const char* what, std::string_view text)
{
    std::fprintf(stderr, "invariant broken: %s\n%.*s\n", what, static_cast<int>(std::min<std::size_t>(text.size(), 4000)),
                 text.data());
    std::abort();
}

std::unique_ptr<html::Document> PageFrom(bool snapshot, std::string_view text)
{
    if (snapshot) {
        // The host's own requests for what the browser kept back would leave
        // the machine; the snapshot alone is the page's part.
        html::SnapshotLimits limits;
        limits.maxJsonBytes = 1u << 20;
        limits.maxNodes = 20'000;
        auto loaded = html::SnapshotLoader::Load(text, html::FetchMissing::No, {}, limits);
        return loaded ? loaded.take() : nullptr;
    }
    html::ParseLimits limits;
    limits.maxParserMemory = 64u << 20;
    limits.maxParseTime = std::chrono::milliseconds(2000);
    auto parsed = html::HtmlParser::Parse(text, "http://127.0.0.1:8080/dir/page.html", limits);
    return parsed ? std::move(parsed.page->document) : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool snapshot = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto page = PageFrom(snapshot, text);
    if (!page)
        return 0;
    const auto result = QVXMLInfoExtractors::BuildResourceDocument(*page);
    if (!result.ok())
        return 0;
    xml::Document check;
    if (!check.LoadXml(result.text))
        Fail("the resource document is not well-formed", result.text);
    const std::string filtered = QVXMLInfoExtractors::FilterFrameSources(result.text);
    if (!check.LoadXml(filtered))
        Fail("the frame-filtered resource document is not well-formed", filtered);
    return 0;
}
