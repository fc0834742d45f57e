#include "discovery/ImagesExtractor.h"

namespace QVXMLInfoExtractors {

void CImagesExtractor::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    if (!document.images)
        return;
    for (const html::Image& image : *document.images) {
        // Pictures still loading, or that failed to load, are not listed.
        if (!image.complete || !*image.complete)
            continue;
        if (!image.src || image.src->empty())
            continue;
        std::optional<xml::Element> item = CreateElement("item", true);
        if (!item)
            continue;
        (void)item->SetAttribute("src", *image.src);
        if (image.href)
            (void)item->SetAttribute("href", *image.href);
        if (image.fileSize && !image.fileSize->empty())
            (void)item->SetAttribute("size", *image.fileSize);
        if (image.width)
            (void)item->SetAttribute("width", *image.width);
        if (image.height)
            (void)item->SetAttribute("height", *image.height);
        if (image.mimeType && !image.mimeType->empty())
            (void)item->SetAttribute("mime", *image.mimeType);
    }
}

} // namespace QVXMLInfoExtractors
