#pragma once
// A section writer: one XML document holding the declaration and one root
// element named for the section.
#include "discovery/XmlProviderBase.h"
#include "platform/xml/Document.h"

#include <optional>
#include <string>
#include <string_view>

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CXmlProvider : public CXmlProviderBase {
public:
    explicit CXmlProvider(std::string_view rootName);

    std::string GetXml() const override;
    bool AppendToRoot(const xml::Node& node) override;
    std::optional<xml::Element> CreateElement(std::string_view name, bool appendToRoot) override;

    // The root element; nullopt only when the root name was not a legal name.
    std::optional<xml::Element> GetRoot() const { return m_root; }
    // Parses the text and appends a deep copy of its root element to the
    // own root; nullopt (and nothing appended) when the text does not parse.
    std::optional<xml::Element> ImportXml(std::string_view text);

    const std::string& RootName() const { return m_rootName; }

protected:
    // A fresh document: declaration "xml" with "version='1.0'", then the
    // empty root. Replaces the earlier document and root.
    void InitDocument();

private:
    xml::Document m_document;
    std::optional<xml::Element> m_root;
    std::string m_rootName;
};

} // namespace QVXMLInfoExtractors
