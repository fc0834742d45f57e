#pragma once
// Runs several extractors over one document and gathers their sections
// below its own root.
#include "discovery/HTMLProcessor.h"
#include "discovery/OrderedMembers.h"

#include <cstddef>
#include <string_view>

namespace QVXMLInfoExtractors {

struct SectionOrderOf {
    SectionOrder operator()(const CHTMLProcessor& p) const { return p.Order(); }
};
using ExtractorSet = OrderedMembers<CHTMLProcessor, SectionOrderOf>;

// Thread: the discovery caller's thread only. Members are not owned: the
// caller keeps them alive while the group may run.
class CExtractorGroup : public CHTMLProcessor {
public:
    explicit CExtractorGroup(std::string_view rootName) : CHTMLProcessor(rootName) {}

    // Runs every member in order (page DOM, images, scripts, stylesheets,
    // objects, others) and appends each member's root element, with all it
    // holds, below the own root. A member whose text does not parse
    // contributes nothing.
    void Process(const html::Document& document) override;

    // Ignored for null and for the group itself; a member is held once.
    virtual void AddExtractor(CHTMLProcessor* member);
    // Same guard; the number removed (0 or 1).
    virtual std::size_t RemoveExtractor(CHTMLProcessor* member);

protected:
    const ExtractorSet& Members() const { return m_members; }
    void SetMembers(const ExtractorSet& members) { m_members = members; }

private:
    ExtractorSet m_members;
    // Guards against a group that is, through other groups, its own member.
    bool m_running = false;
};

} // namespace QVXMLInfoExtractors
