#include "discovery/FlashesExtractor.h"

namespace QVXMLInfoExtractors {

namespace {
// IShockwaveFlash
constexpr IID kIShockwaveFlash = MakeGuid(0xD27CDB6C, 0xAE6D, 0x11CF, 0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00);
} // namespace

void CFlashesExtractor::ProcessObject(const html::EmbeddedControl& control)
{
    RecordSource(control, html::ControlKind::Flash, &kIShockwaveFlash);
}

} // namespace QVXMLInfoExtractors
