#pragma once
// Builds the grab dialog's body from a page: discovery over the page and
// its frames, the list stylesheet, the frame source filter, the dialog's
// pictures and options, the page stylesheet.
//
// Nothing is kept between builds: every call runs discovery again and
// makes its own documents, so an unchanged page gives the same body.
//
// Thread: any; the page must not change during a build.
#include "platform/html/HtmlDocument.h"

#include <functional>
#include <optional>
#include <string>

namespace dialog {

// The grab options as the page receives them: the grabber object's current
// property values.
struct DialogOptions {
    std::string rootFolder; // UTF-8, as the user gave it; may be empty
    bool grabFlash = false;
    bool grabQT = false;
    bool grabRP = false;
    bool grabMP = false;
    bool grabPictures = false;
    bool autoClose = false;
    bool selectAll = false;
    bool grabCSS = false;
    bool grabScript = false;
};

// Addresses of the dialog's four pictures, as the page can load them.
struct DialogPictures {
    std::string left;  // header band, top-left corner
    std::string right; // header band, top-right corner
    std::string ok;    // a file that was saved
    std::string fail;  // a file that was not
};

// Where a build takes its stylesheets from: the stored templates, unless a
// test hands in others. nullopt stands for a template that cannot be
// unscrambled.
struct StylesheetSource {
    std::function<std::optional<std::string>()> list;
    std::function<std::optional<std::string>()> page;

    [[nodiscard]] static StylesheetSource Stored();
};

// What one build made. Only `body` goes to the page; the rest is for
// diagnostics and tests.
struct DialogPage {
    std::string body;            // the dialog body's HTML; empty when none could be made
    std::string resourceXml;     // the resource document as discovery wrote it
    std::string intermediateXml; // the document the page stylesheet was given
    bool listApplied = false;    // the list stylesheet shaped the working text
    std::string error;           // why discovery ended without a resource document
};

class DialogPageBuilder {
public:
    explicit DialogPageBuilder(StylesheetSource stylesheets = StylesheetSource::Stored())
        : m_stylesheets(std::move(stylesheets)) {}

    [[nodiscard]] DialogPage Build(const html::Document& page, const DialogOptions& options,
                                   const DialogPictures& pictures) const;

private:
    StylesheetSource m_stylesheets;
};

} // namespace dialog
