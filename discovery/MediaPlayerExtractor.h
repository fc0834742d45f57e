#pragma once
// Windows Media Player 6.4 controls (IMediaPlayer): their FileName.
#include "discovery/UnknownProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CMediaPlayerExtractor : public CUnknownProcessor {
public:
    CMediaPlayerExtractor() : CUnknownProcessor("mps") {}
    void ProcessObject(const html::EmbeddedControl& control) override;
    ControlOrder Order() const override { return ControlOrder::MediaPlayer; }
};

} // namespace QVXMLInfoExtractors
