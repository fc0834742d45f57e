#pragma once
// The whole discovery run over one page, as the dialog page builder and
// `quillory list` use it.
#include "platform/com/HResult.h"
#include "platform/html/HtmlDocument.h"

#include <string>
#include <string_view>

namespace QVXMLInfoExtractors {

// The resource document's text, or why the run ended without one.
// Thread: any (a plain value).
struct [[nodiscard]] ResourceDocumentResult {
    std::string text;    // declaration and outermost "frame"; empty on failure
    HRESULT hr = S_OK;   // the COM error that ended the run
    std::string error;   // one line for people

    bool ok() const { return SUCCEEDED(hr); }
};

// Runs the frame processor (frames and iframes) with the page DOM, image,
// script, stylesheet and object extractors and the four control processors
// over the page, and returns the resource document's text. A failing read
// on a recognised Flash, QuickTime or Media Player control ends the run
// with that control's HRESULT; running out of memory with E_OUTOFMEMORY.
// Thread: any; the document must not change during the call.
ResourceDocumentResult BuildResourceDocument(const html::Document& page);

// Runs the frame source filter over a resource document (or a text derived
// from it that keeps its frame elements): every src inside a frame becomes
// absolute, with relrootsrc and relsrc where they apply. Malformed text
// gives what was written up to the error.
// Thread: any.
[[nodiscard]] std::string FilterFrameSources(std::string_view resourceXml);

} // namespace QVXMLInfoExtractors
