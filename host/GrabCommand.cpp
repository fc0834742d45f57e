// `quillory grab [-o DIR] [--batch] [--loader static|chromium] URL`: the
// grab run. The dialog opens in the user's browser (host/GrabRun.h) and
// the run lasts until the page calls Exit or its window goes away. With
// --batch there is no dialog: what the stored options select is
// downloaded with the terminal progress table. -o sets the root folder of
// this run only; the stored GrabPath stays as it was.
//
// Exit status: 0 done; 1 not run (page, registration); 2 a chosen file
// did not complete; 3 nothing chosen; 130 interrupted (host/GrabRun.h).
#include "host/Command.h"
#include "host/GrabRun.h"

namespace {

host::GrabRequest request;

const host::CommandRegistration grabCommand(25, [](CLI::App& app) {
    auto* sub = app.add_subcommand("grab", "Show the grab dialog for a page and save the parts you choose");
    sub->add_option("url", request.url, "Page address, or a path to an HTML file")->required();
    sub->add_option("-o,--output", request.output, "Root folder for this run (default: the stored GrabPath)");
    sub->add_flag("--batch", request.batch, "No dialog: download what the options select, with a progress table");
    sub->add_option("--loader", request.loader, "How the page is read: static (its markup) or chromium (rendered, scripts run)")
        ->check(CLI::IsMember({ "static", "chromium" }));
    sub->callback([] { host::ExitCode() = host::RunGrab(request); });
});

} // namespace
