#include "discovery/QuickTimeExtractor.h"

namespace QVXMLInfoExtractors {

namespace {
// The QuickTime control's scripting interface.
constexpr IID kIQuickTime = MakeGuid(0x02BF25D3, 0x8C17, 0x4B23, 0xBC, 0x80, 0xD3, 0x48, 0x8A, 0xBD, 0xDC, 0x6B);
} // namespace

void CQuickTimeExtractor::ProcessObject(const html::EmbeddedControl& control)
{
    RecordSource(control, html::ControlKind::QuickTime, &kIQuickTime);
}

} // namespace QVXMLInfoExtractors
