#include "discovery/HTMLProcessor.h"

namespace QVXMLInfoExtractors {

void CHTMLProcessor::Process(const html::Document& /*document*/)
{
    InitDocument();
}

} // namespace QVXMLInfoExtractors
