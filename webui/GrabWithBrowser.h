#pragma once
// A grab with its dialogs in the user's browser: starts the UI server,
// installs the web view (and the web progress list), runs the grab on the
// calling thread until its dialog has closed, and takes everything down.
//
//   webui::RunGrabWithBrowser(tovanix, document);   // returns after the run
//
// Thread: the grabber object's thread (it becomes the UI thread).
#include "grabber/BrowserInterfaces.h"
#include "grabber/ITovanix.h"
#include "platform/com/ComPtr.h"
#include "webui/WebView.h"

#include <functional>

namespace webui {

// False when the server could not start (nothing was shown).
[[nodiscard]] bool RunGrabWithBrowser(const ComPtr<ITovanix>& tovanix, const ComPtr<IHTMLDocument2>& document,
                                      WebView::Options options = {});

// The same set-up around any call that runs a grab on this thread (the
// toolbar button's path sites the object and runs Exec instead of Grab).
[[nodiscard]] bool RunWithBrowserViews(WebView::Options options, const std::function<void()>& grab);

} // namespace webui
