#include "discovery/FrameProcessor.h"

namespace QVXMLInfoExtractors {

void CFrameProcessor::Process(const html::Document& document)
{
    CExtractorGroup::Process(document);
    std::optional<xml::Element> root = GetRoot();
    if (root)
        (void)root->SetAttribute("src", document.URL);
    if ((m_mask & (kFrames | kIFrames)) == 0)
        return;
    if (!document.frames || m_depth >= kMaxFrameDepth)
        return;

    // One child serves every frame of this document; the members (not the
    // member objects) are copied, so the child's runs reset the same
    // sections after this group has imported them.
    CFrameProcessor child(m_mask, m_depth + 1);
    child.SetMembers(Members());
    for (const html::Frame& frame : *document.frames) {
        // A frame from another origin refuses its document and leaves no trace.
        const html::Document* frameDocument = frame.DocumentOrNull();
        if (!frameDocument)
            continue;
        // The document is processed whatever the mask: only the import
        // depends on it.
        child.Process(*frameDocument);
        if (!frame.frameElement)
            continue;
        std::optional<xml::Element> childRoot = child.GetRoot();
        if (!childRoot)
            continue;
        // The address as written in the page replaces the document's.
        (void)childRoot->SetAttribute("src", frame.frameElement->src);
        bool import = false;
        if (frame.frameElement->isIFrame) {
            (void)childRoot->SetAttribute("iframe", std::string_view());
            import = (m_mask & kIFrames) != 0;
        } else {
            import = (m_mask & kFrames) != 0;
        }
        if (import)
            (void)ImportXml(child.GetXml());
    }
}

} // namespace QVXMLInfoExtractors
