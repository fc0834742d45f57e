#include "discovery/RealPlayerExtractor.h"

namespace QVXMLInfoExtractors {

void CRealPlayerExtractor::ProcessObject(const html::EmbeddedControl& control)
{
    // The RealPlayer read's outcome is not looked at: a failure leaves an
    // empty address rather than ending the run.
    RecordSource(control, html::ControlKind::RealPlayer, nullptr);
}

} // namespace QVXMLInfoExtractors
