#pragma once
// A control processor: recognises one kind of embedded media control and
// records the address of the medium it plays.
#include "discovery/XmlProvider.h"
#include "platform/com/Guid.h"
#include "platform/html/HtmlDocument.h"

#include <string_view>

namespace QVXMLInfoExtractors {

// Where a control processor's sub-section stands inside "objects".
enum class ControlOrder {
    QuickTime,   // "qts"
    Flash,       // "flashes"
    RealPlayer,  // "rps"
    MediaPlayer, // "mps"
    Other,       // after the standard four
};

// Thread: the discovery caller's thread only.
class CUnknownProcessor : public CXmlProvider {
public:
    explicit CUnknownProcessor(std::string_view rootName) : CXmlProvider(rootName) {}

    // Offers one control. A control of another kind is ignored.
    virtual void ProcessObject(const html::EmbeddedControl& control) = 0;
    virtual ControlOrder Order() const { return ControlOrder::Other; }

    // An empty sub-section, before every run over a document.
    void ResetSection() { InitDocument(); }

protected:
    // The common form: for a control of `kind`, append an `item` and write
    // the control's source into `src`. A failing read throws ComError with
    // `failingInterface` when one is given; without one the item gets an
    // empty `src`.
    void RecordSource(const html::EmbeddedControl& control, html::ControlKind kind, const IID* failingInterface);
};

} // namespace QVXMLInfoExtractors
