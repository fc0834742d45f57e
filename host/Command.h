#pragma once
// Subcommands of `quillory`. Each command's file registers itself with a
// static CommandRegistration, so adding a command touches no shared file.
#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace host {

// Adds the subcommand to the app. The callback stored with
// CLI::App::callback sets the process exit code through ExitCode().
using CommandSetup = std::function<void(CLI::App& app)>;

struct CommandRegistration {
    CommandRegistration(int order, CommandSetup setup);
};

// Exit status the chosen command asks for (0 unless set).
int& ExitCode();

// Runs the registered commands' setup in order of their `order` value.
void SetUpCommands(CLI::App& app);

} // namespace host
