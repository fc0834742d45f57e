#pragma once
// The dialog's language file, "lang.xml": the one file the dialog's page
// keeps between grabs. The grabber treats it as an opaque XML document;
// only the dialog script knows its structure.
//
// Two folders hold it: the module folder and the per-user data folder.
// Reading looks in the module folder first, so an installation-wide file
// wins; writing goes to the per-user folder first and falls back to the
// module folder. Neither creates a missing folder.
//
// Thread: any; the file is opened only for the time of one call.
#include <optional>
#include <string>
#include <string_view>

namespace dialog {

inline constexpr std::string_view kLanguageFileName = "lang.xml";

class LanguageFile {
public:
    LanguageFile(std::string moduleFolder, std::string userFolder)
        : m_moduleFolder(std::move(moduleFolder)), m_userFolder(std::move(userFolder)) {}

    // The XML text of the first file that loads as XML (module folder, then
    // per-user folder) as the XML parser reserialises it, not the file's
    // bytes; nullopt when neither loads.
    [[nodiscard]] std::optional<std::string> Read() const;

    // Replaces the file with FF FE followed by the UTF-16LE code units of
    // `text` as given (no terminating zero): in the per-user folder, or in
    // the module folder when the per-user file cannot be opened. Where it
    // went; nullopt when neither could be opened. Write errors after the
    // open are not reported, as the page has no use for them.
    std::optional<std::string> Write(std::u16string_view text) const;

    // The file's path in a folder; empty for an empty folder name, which
    // stands for a folder that could not be found.
    [[nodiscard]] static std::string PathIn(const std::string& folder);

private:
    std::string m_moduleFolder;
    std::string m_userFolder;
};

} // namespace dialog
