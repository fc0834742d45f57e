#pragma once
// A small real ASF file (WMV2 video and WMA2 audio from ffmpeg's generated
// sources) for the MMS tests, and what ffprobe reads from an ASF file.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// True when ffmpeg and ffprobe can be run.
bool HaveFfmpeg();

// Makes `seconds` of test video and audio at `path`; false when ffmpeg
// failed (its output goes to stderr).
bool MakeTestAsf(const std::filesystem::path& path, int seconds = 3);

struct ProbedStream {
    std::string codec;
    long packets = 0;
};

// Streams and packet counts ffprobe reads to the end of `path`; nullopt
// when ffprobe reports any error reading it.
std::optional<std::vector<ProbedStream>> ProbeAsf(const std::filesystem::path& path);

// Runs a shell command line; its exit status (-1 when it could not run).
int RunCommand(const std::string& commandLine);

} // namespace testsupport
