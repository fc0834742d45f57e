// `quillory list URL`: loads a page with the static page loader (or, with
// `--loader chromium`, renders it in headless Chromium and reads the live
// DOM), runs resource discovery over it and its frames, and prints the
// resource document. `--filtered` prints it after the frame source filter, with every
// src absolute and its relative forms beside it.
//
// Exit status: 0 printed; 1 the page could not be loaded; 2 discovery ended
// with an error (a media control's failing read).
#include "host/Command.h"

#include "discovery/ResourceDocument.h"
#include "platform/html/ChromiumPageLoader.h"
#include "platform/html/StaticPageLoader.h"

#include <cstdio>
#include <string>

namespace {

int Run(const std::string& url, bool filtered, const std::string& loader)
{
    html::LoadResult loaded = loader == "chromium" ? html::ChromiumPageLoader::Load(url) : html::StaticPageLoader::Load(url);
    if (!loaded) {
        std::fprintf(stderr, "quillory list: %s\n", loaded.error().c_str());
        return 1;
    }
    // What the loader left out, so a short listing can be told apart from
    // a short page.
    for (const std::string& note : loaded.document().notes)
        std::fprintf(stderr, "quillory list: note: %s\n", note.c_str());

    QVXMLInfoExtractors::ResourceDocumentResult result = QVXMLInfoExtractors::BuildResourceDocument(loaded.document());
    if (!result.ok()) {
        std::fprintf(stderr, "quillory list: %s\n", result.error.c_str());
        return 2;
    }
    const std::string text = filtered ? QVXMLInfoExtractors::FilterFrameSources(result.text) : result.text;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

std::string url;
bool filtered = false;
std::string loader = "static";

const host::CommandRegistration listCommand(20, [](CLI::App& app) {
    auto* sub = app.add_subcommand("list", "Print the resource document of a page");
    sub->add_option("url", url, "Page address, or a path to an HTML file")->required();
    sub->add_flag("--filtered", filtered, "After the frame source pass: every src absolute, with relsrc and relrootsrc");
    sub->add_option("--loader", loader, "How the page is read: static (its markup) or chromium (rendered, scripts run)")
        ->check(CLI::IsMember({ "static", "chromium" }));
    sub->callback([] { host::ExitCode() = Run(url, filtered, loader); });
});

} // namespace
