#pragma once
// Flash player controls (IShockwaveFlash): the Movie they play.
#include "discovery/UnknownProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CFlashesExtractor : public CUnknownProcessor {
public:
    CFlashesExtractor() : CUnknownProcessor("flashes") {}
    void ProcessObject(const html::EmbeddedControl& control) override;
    ControlOrder Order() const override { return ControlOrder::Flash; }
};

} // namespace QVXMLInfoExtractors
