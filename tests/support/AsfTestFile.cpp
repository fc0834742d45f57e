#include "tests/support/AsfTestFile.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace testsupport {

namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace

int RunCommand(const std::string& commandLine)
{
    const int status = std::system(commandLine.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool HaveFfmpeg()
{
    return RunCommand("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
}

bool MakeTestAsf(const std::filesystem::path& path, int seconds)
{
    std::ostringstream command;
    command << "ffmpeg -nostdin -hide_banner -loglevel error -y"
            << " -f lavfi -i testsrc=size=160x120:rate=10"
            << " -f lavfi -i sine=frequency=440:sample_rate=22050"
            << " -t " << seconds << " -c:v wmv2 -b:v 100k -c:a wmav2 -b:a 32k -ac 1 "
            << Quote(path.string());
    return RunCommand(command.str()) == 0;
}

std::optional<std::vector<ProbedStream>> ProbeAsf(const std::filesystem::path& path)
{
    // Errors while reading the packets come out on stderr, merged with the
    // stream lines: any line that is not a stream line fails the probe.
    const std::string command = "ffprobe -v error -count_packets -show_entries "
                                "stream=codec_name,nb_read_packets -of csv=p=0 " +
                                Quote(path.string()) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = ::pclose(pipe);
    if (status != 0)
        return std::nullopt;
    std::vector<ProbedStream> streams;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos)
            return std::nullopt; // an error text, not a stream line
        ProbedStream stream;
        stream.codec = line.substr(0, comma);
        try {
            stream.packets = std::stol(line.substr(comma + 1));
        } catch (...) {
            return std::nullopt;
        }
        streams.push_back(stream);
    }
    return streams;
}

} // namespace testsupport
