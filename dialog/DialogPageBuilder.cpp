#include "dialog/DialogPageBuilder.h"

#include "dialog/Templates.h"
#include "discovery/ResourceDocument.h"
#include "platform/xml/Document.h"

#include <utility>

namespace dialog {

namespace {

// Appends <name>text</name> to `parent`.
void AppendText(xml::Document& document, xml::Element& parent, std::string_view name, std::string_view text)
{
    if (auto element = document.CreateElement(name)) {
        element->SetText(text);
        parent.AppendChild(*element);
    }
}

// The pictures, then "options" with "rootfolder" and one empty element per
// option that is on, in the order the page stylesheet expects.
void AppendAdditions(xml::Document& document, xml::Element& root, const DialogOptions& options,
                     const DialogPictures& pictures)
{
    AppendText(document, root, "limage", pictures.left);
    AppendText(document, root, "rimage", pictures.right);
    AppendText(document, root, "okimage", pictures.ok);
    AppendText(document, root, "failimage", pictures.fail);

    auto element = document.CreateElement("options");
    if (!element)
        return;
    AppendText(document, *element, "rootfolder", options.rootFolder);
    const std::pair<bool, std::string_view> flags[] = {
        { options.grabFlash, "grabflash" },
        { options.grabQT, "grabqt" },
        { options.grabRP, "grabrp" },
        { options.grabMP, "grabmp" },
        { options.grabPictures, "grabpictures" },
        { options.autoClose, "autoclose" },
        { options.selectAll, "selectall" },
        { options.grabCSS, "grabcss" },
        { options.grabScript, "grabscript" },
    };
    for (const auto& [on, name] : flags) {
        if (!on)
            continue;
        if (auto flag = document.CreateElement(name))
            element->AppendChild(*flag);
    }
    root.AppendChild(*element);
}

} // namespace

StylesheetSource StylesheetSource::Stored()
{
    return {
        [] { return LoadTemplate(Template::ListStylesheet); },
        [] { return LoadTemplate(Template::PageStylesheet); },
    };
}

DialogPage DialogPageBuilder::Build(const html::Document& page, const DialogOptions& options,
                                    const DialogPictures& pictures) const
{
    DialogPage out;

    // 1. Discovery over the page and its frames. A control that fails a
    // read ends it without a resource document, and then there is no body.
    auto resources = QVXMLInfoExtractors::BuildResourceDocument(page);
    if (!resources.ok()) {
        out.error = resources.error;
        return out;
    }
    out.resourceXml = std::move(resources.text);

    // 2.-3. The list stylesheet shapes the resource document. A stylesheet
    // that does not unscramble, load or run, or that gives no text at all,
    // leaves the resource document's own text to the steps below.
    std::string working;
    if (auto listText = m_stylesheets.list ? m_stylesheets.list() : std::nullopt) {
        xml::Document list;
        list.SetAsync(false);
        xml::Document source;
        source.SetAsync(false);
        if (list.LoadXml(*listText) && source.LoadXml(out.resourceXml)) {
            if (auto shaped = source.TransformNode(list); shaped && !shaped->empty()) {
                working = std::move(*shaped);
                out.listApplied = true;
            }
        }
    }
    if (!out.listApplied)
        working = out.resourceXml;

    // 4. Every src becomes absolute, with its relative forms beside it.
    working = QVXMLInfoExtractors::FilterFrameSources(working);

    // 5.1-5.2 The intermediate document: always a document of its own, so
    // the additions never reach the resource document.
    xml::Document intermediate;
    intermediate.SetAsync(false);
    if (!intermediate.LoadXml(working))
        return out;
    auto root = intermediate.DocumentElement();
    if (!root)
        return out;
    // 5.3
    AppendAdditions(intermediate, *root, options, pictures);
    out.intermediateXml = intermediate.Xml();

    // 5.4-5.5
    auto pageText = m_stylesheets.page ? m_stylesheets.page() : std::nullopt;
    if (!pageText)
        return out;
    xml::Document pageStylesheet;
    pageStylesheet.SetAsync(false);
    if (!pageStylesheet.LoadXml(*pageText))
        return out;
    if (auto body = intermediate.TransformNode(pageStylesheet))
        out.body = std::move(*body);
    return out;
}

} // namespace dialog
