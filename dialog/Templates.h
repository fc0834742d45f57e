#pragma once
// The three texts the grab dialog is made of, kept in the library in
// scrambled form (dialog/Scramble.h) and turned back into text each time
// they are needed. Their readable sources are dialog/templates/*; the
// stored forms are generated from them at build time.
//
// Thread: any.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dialog {

enum class Template {
    ListStylesheet, // XSLT: resource document -> the compact list the dialog needs
    DialogScript,   // HTML fragment with the dialog's style and script, written before the body
    PageStylesheet, // XSLT: the list with pictures and options -> the dialog body's HTML
};

struct StoredTemplate {
    std::uint8_t key = 0;
    std::string_view text; // base64, valid for the process's lifetime
};

// The stored form of a template (defined in the generated source).
[[nodiscard]] StoredTemplate StoredForm(Template which);

// The template's text; nullopt when its stored form does not decode.
[[nodiscard]] std::optional<std::string> LoadTemplate(Template which);

} // namespace dialog
