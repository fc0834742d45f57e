#include "host/Command.h"

#include <algorithm>

namespace host {

namespace {

struct Entry {
    int order;
    CommandSetup setup;
};

std::vector<Entry>& Entries()
{
    static std::vector<Entry> entries;
    return entries;
}

} // namespace

CommandRegistration::CommandRegistration(int order, CommandSetup setup)
{
    Entries().push_back({ order, std::move(setup) });
}

int& ExitCode()
{
    static int code = 0;
    return code;
}

void SetUpCommands(CLI::App& app)
{
    auto& entries = Entries();
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.order < b.order; });
    for (auto& e : entries)
        e.setup(app);
}

} // namespace host
