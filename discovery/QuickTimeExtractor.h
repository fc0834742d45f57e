#pragma once
// QuickTime controls: the address of the movie they play.
#include "discovery/UnknownProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CQuickTimeExtractor : public CUnknownProcessor {
public:
    CQuickTimeExtractor() : CUnknownProcessor("qts") {}
    void ProcessObject(const html::EmbeddedControl& control) override;
    ControlOrder Order() const override { return ControlOrder::QuickTime; }
};

} // namespace QVXMLInfoExtractors
