#include "discovery/ExtractorGroup.h"

namespace QVXMLInfoExtractors {

void CExtractorGroup::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    if (m_running)
        return; // reached again through a member group: an empty section ends the cycle
    m_running = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{m_running};
    for (CHTMLProcessor* member : m_members) {
        member->Process(document);
        (void)ImportXml(member->GetXml());
    }
}

void CExtractorGroup::AddExtractor(CHTMLProcessor* member)
{
    if (!member || member == this)
        return;
    m_members.Insert(member);
}

std::size_t CExtractorGroup::RemoveExtractor(CHTMLProcessor* member)
{
    if (!member || member == this)
        return 0;
    return m_members.Remove(member);
}

} // namespace QVXMLInfoExtractors
