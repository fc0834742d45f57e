#include "discovery/XmlProvider.h"

namespace QVXMLInfoExtractors {

CXmlProvider::CXmlProvider(std::string_view rootName) : m_rootName(rootName)
{
    InitDocument();
}

void CXmlProvider::InitDocument()
{
    m_root.reset();
    m_document = xml::Document();
    m_document.SetAsync(false);
    (void)m_document.AppendChild(m_document.CreateProcessingInstruction("xml", "version='1.0'"));
    m_root = m_document.CreateElement(m_rootName);
    if (m_root && !m_document.AppendChild(*m_root))
        m_root.reset();
}

std::string CXmlProvider::GetXml() const
{
    return m_document.Xml();
}

bool CXmlProvider::AppendToRoot(const xml::Node& node)
{
    return m_root && m_root->AppendChild(node);
}

std::optional<xml::Element> CXmlProvider::CreateElement(std::string_view name, bool appendToRoot)
{
    std::optional<xml::Element> element = m_document.CreateElement(name);
    if (element && appendToRoot)
        (void)AppendToRoot(*element);
    return element;
}

std::optional<xml::Element> CXmlProvider::ImportXml(std::string_view text)
{
    xml::Document parsed;
    parsed.SetAsync(false);
    if (!parsed.LoadXml(text))
        return std::nullopt;
    std::optional<xml::Element> root = parsed.DocumentElement();
    if (!root)
        return std::nullopt;
    std::optional<xml::Element> copy = m_document.ImportNode(*root, true);
    if (!copy || !AppendToRoot(*copy))
        return std::nullopt;
    return copy;
}

} // namespace QVXMLInfoExtractors
