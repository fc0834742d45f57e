// quillory: the command a user runs. Each subcommand lives in its own file
// and registers itself (host/Command.h).
#include "host/Command.h"

#include <cstdio>

int main(int argc, char** argv)
{
    CLI::App app { "Quillory: lists what a web page is made of and saves the parts you choose." };
    app.set_version_flag("--version", "quillory 3.6.0.0");
    app.require_subcommand(1);
    host::SetUpCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return host::ExitCode();
}
