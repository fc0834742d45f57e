#pragma once
// The texts of the pages and scripts the UI server hands out besides the
// module's resources: the window.external bridge, the progress list, the
// message box, the folder and file picker and the empty dialog page.
#include <string>

namespace webui {

// window.external for a page whose requests go to `pageBase`
// ("/<token>/p/<id>/"); `caption` becomes the window's title when the page
// has none.
[[nodiscard]] std::string BridgeScript(const std::string& pageBase, const std::string& caption);
// The empty dialog page (no shell page address): only the bridge, so that
// closing the window still ends the dialog.
[[nodiscard]] std::string BlankDialogPage(const std::string& pageBase);
// The progress list ("Saving files...") and its script.
[[nodiscard]] std::string ProgressPage(const std::string& pageBase);
// A message box: the text and buttons come from the page's "info" request.
[[nodiscard]] std::string MessageBoxPage(const std::string& pageBase);
// The folder and file picker.
[[nodiscard]] std::string PickerPage(const std::string& pageBase);
// page.js, shared by the pages above: requests, heartbeat, goodbye beacon.
[[nodiscard]] std::string PageRuntimeScript();
// progress.js: the live rows of the progress list.
[[nodiscard]] std::string ProgressScript();

// `text` as a JavaScript/JSON string literal that is also safe inside a
// <script> element.
[[nodiscard]] std::string ScriptString(const std::string& text);

} // namespace webui
