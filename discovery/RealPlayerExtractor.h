#pragma once
// RealPlayer controls: the address of the clip they play. A control that
// cannot say is still listed, with an empty address.
#include "discovery/UnknownProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CRealPlayerExtractor : public CUnknownProcessor {
public:
    CRealPlayerExtractor() : CUnknownProcessor("rps") {}
    void ProcessObject(const html::EmbeddedControl& control) override;
    ControlOrder Order() const override { return ControlOrder::RealPlayer; }
};

} // namespace QVXMLInfoExtractors
