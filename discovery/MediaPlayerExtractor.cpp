#include "discovery/MediaPlayerExtractor.h"

namespace QVXMLInfoExtractors {

namespace {
// IMediaPlayer
constexpr IID kIMediaPlayer = MakeGuid(0x22D6F311, 0xB0F6, 0x11D0, 0x94, 0xAB, 0x00, 0x80, 0xC7, 0x4C, 0x7E, 0x95);
} // namespace

void CMediaPlayerExtractor::ProcessObject(const html::EmbeddedControl& control)
{
    RecordSource(control, html::ControlKind::MediaPlayer, &kIMediaPlayer);
}

} // namespace QVXMLInfoExtractors
