#pragma once
// What every section writer offers: its XML text, appending below its root,
// and making elements of its own document.
#include "platform/xml/Node.h"

#include <optional>
#include <string>
#include <string_view>

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CXmlProviderBase {
public:
    virtual ~CXmlProviderBase() = default;
    // The document's XML text: declaration and root element.
    virtual std::string GetXml() const = 0;
    // Appends a node of the own document as last child of the root.
    virtual bool AppendToRoot(const xml::Node& node) = 0;
    // A new element (appended to the root when asked); nullopt when the
    // name is not a legal XML name.
    virtual std::optional<xml::Element> CreateElement(std::string_view name, bool appendToRoot) = 0;
};

} // namespace QVXMLInfoExtractors
