#include "platform/xml/Sax.h"

namespace xml {

namespace {

// Text content: '>' too, so "]]>" can never appear; a carriage return as a
// reference because a reader would turn a literal one into a line feed.
void AppendEscapedText(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c; break;
        }
    }
}

// Attribute values: white space other than the blank as references, since
// attribute-value normalisation would otherwise turn it into blanks.
void AppendEscapedAttribute(std::string& out, std::string_view value)
{
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c; break;
        }
    }
}

} // namespace

std::string SaxWriter::Output() const
{
    if (!m_startTagOpen)
        return m_out;
    return m_out + ">";
}

void SaxWriter::Reset()
{
    m_out.clear();
    m_startTagOpen = false;
}

void SaxWriter::CloseStartTag()
{
    if (m_startTagOpen) {
        m_out += '>';
        m_startTagOpen = false;
    }
}

bool SaxWriter::StartDocument()
{
    if (!m_omitDeclaration) {
        m_out += "<?xml version=\"1.0\" standalone=\"";
        m_out += m_standalone ? "yes" : "no";
        m_out += "\"?>";
    }
    return true;
}

bool SaxWriter::EndDocument()
{
    CloseStartTag();
    return true;
}

bool SaxWriter::StartElement(std::string_view /*uri*/, std::string_view /*localName*/, std::string_view qName,
                             const SaxAttributes& attributes)
{
    CloseStartTag();
    m_out += '<';
    m_out += qName;
    for (const SaxAttributes::Attribute& a : attributes.Items()) {
        m_out += ' ';
        m_out += a.qName;
        m_out += "=\"";
        AppendEscapedAttribute(m_out, a.value);
        m_out += '"';
    }
    m_startTagOpen = true;
    return true;
}

bool SaxWriter::EndElement(std::string_view /*uri*/, std::string_view /*localName*/, std::string_view qName)
{
    if (m_startTagOpen) {
        m_out += "/>";
        m_startTagOpen = false;
        return true;
    }
    m_out += "</";
    m_out += qName;
    m_out += '>';
    return true;
}

bool SaxWriter::Characters(std::string_view text)
{
    if (text.empty())
        return true;
    CloseStartTag();
    AppendEscapedText(m_out, text);
    return true;
}

bool SaxWriter::IgnorableWhitespace(std::string_view text)
{
    return Characters(text);
}

bool SaxWriter::ProcessingInstruction(std::string_view target, std::string_view data)
{
    CloseStartTag();
    m_out += "<?";
    m_out += target;
    if (!data.empty()) {
        m_out += ' ';
        m_out += data;
    }
    m_out += "?>";
    return true;
}

bool SaxWriter::SkippedEntity(std::string_view name)
{
    CloseStartTag();
    m_out += '&';
    m_out += name;
    m_out += ';';
    return true;
}

bool SaxWriter::Comment(std::string_view text)
{
    CloseStartTag();
    m_out += "<!--";
    m_out += text;
    m_out += "-->";
    return true;
}

} // namespace xml
