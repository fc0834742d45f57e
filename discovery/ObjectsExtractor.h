#pragma once
// Lists the page's embedded media controls, one sub-section per kind of
// control processor ("qts", "flashes", "rps", "mps").
#include "discovery/HTMLProcessor.h"
#include "discovery/OrderedMembers.h"
#include "discovery/UnknownProcessor.h"

namespace QVXMLInfoExtractors {

struct ControlOrderOf {
    ControlOrder operator()(const CUnknownProcessor& p) const { return p.Order(); }
};
using ControlProcessorSet = OrderedMembers<CUnknownProcessor, ControlOrderOf>;

// Thread: the discovery caller's thread only. The control processors are
// not owned.
class CObjectsExtractor : public CHTMLProcessor {
public:
    CObjectsExtractor() : CHTMLProcessor("objects") {}

    // Every control is offered to every processor, in processor order; a
    // failing read on a recognised Flash, QuickTime or Media Player control
    // throws ComError out of the run.
    void Process(const html::Document& document) override;
    SectionOrder Order() const override { return SectionOrder::Objects; }

    // Replaces the set of control processors by a copy of the given one.
    void SetObjectProcessors(const ControlProcessorSet& processors) { m_processors = processors; }

private:
    ControlProcessorSet m_processors;
};

} // namespace QVXMLInfoExtractors
