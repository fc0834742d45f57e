#pragma once
// Recognises the media plug-ins of a page from their <object>/<embed>
// markup, as the browser picks the control it instantiates: by class id,
// else by MIME type, else by the file extension of the medium. Pure.
#include "platform/html/HtmlDocument.h"

#include <string>
#include <utility>
#include <vector>

namespace html {

struct ControlMarkup {
    std::string tagName; // "OBJECT" or "EMBED"
    // Attributes with lower-case names, values as written.
    std::vector<std::pair<std::string, std::string>> attributes;
    // The <param name value> children of an <object>, as written.
    std::vector<std::pair<std::string, std::string>> params;
};

ControlKind RecognizeControl(const ControlMarkup& markup);

// The control the browser would embed: its kind and the answer of its one
// source property (Flash Movie, QuickTime and RealPlayer source, Media
// Player FileName), taken from the markup as written. A RealPlayer control
// without a source answers nothing (a failed read), as the real one does.
EmbeddedControl MakeControl(const ControlMarkup& markup);

} // namespace html
