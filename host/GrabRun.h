#pragma once
// One grab from the command line, shared by `quillory grab` and
// `quillory demo`: load the page, make its document object, run the grab
// with the dialog in the user's browser, or, in batch mode, with no dialog
// at all (what the stored options select is downloaded with the terminal
// progress table).
//
// Thread: the main thread (it becomes the grab run's UI thread).
#include <string>

namespace host {

struct GrabRequest {
    std::string url;
    std::string output;   // root folder of this run only; empty: the stored one
    bool batch = false;
    std::string loader = "static"; // or "chromium"
    std::string command = "grab";  // prefix of messages
};

// Exit status: 0 grabbed (batch: every chosen file completed); 1 the page
// or the object could not be had; 2 (batch) a chosen file did not
// complete; 3 (batch) the options chose nothing; 130 interrupted.
[[nodiscard]] int RunGrab(const GrabRequest& request);

// The root folder the run used (after RunGrab), for reports.
[[nodiscard]] const std::string& LastGrabRootFolder();

} // namespace host
