#include "saveprocessors/MmsTrace.h"

#include <cstdio>

namespace QVSaveProcessors::mms {

namespace {

// The 32-bit fields of a message that the dumps show, by offset.
struct Field {
    std::size_t offset;
    const char* sentFormat;
    const char* answerFormat;
};
constexpr Field kFields[] = {
    {0, "start sequence %08x\n", "start sequence %08x"},
    {4, "command id     %08x\n", "command id     %08x"},
    {8, "length         %8x \n", "length         %8x"},
    {16, "len8           %8x \n", "len8           %8x"},
    {20, "sequence #     %08x\n", "sequence #     %08x"},
    {32, "len8  (II)     %8x \n", "len8  (II)     %8x"},
    {36, "dir | comm     %08x\n", "dir | comm     %08x"},
    {40, "switches       %08x\n", "switches       %08x"},
};

enum class Direction { Sent, Answer };

void TraceFields(ByteSpan message, Direction direction, const TraceSink& sink)
{
    for (const Field& field : kFields) {
        // An answer is never shorter than 48 bytes once framed; a shorter
        // span just has fewer fields to show.
        if (field.offset + 4 > message.size())
            break;
        const char* format = direction == Direction::Sent ? field.sentFormat : field.answerFormat;
        sink(Format(format, ReadLe32(message, field.offset)));
    }
}

} // namespace

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

void TraceSentMessage(ByteSpan message, const TraceSink& sink)
{
    sink(Format("command sent, %d bytes", static_cast<int>(message.size())));
    TraceFields(message, Direction::Sent, sink);
    sink("ascii contents>");
    // The payload is UTF-16LE: every second byte is the character's low byte.
    for (std::size_t i = kMessageHeaderSize; i < message.size(); i += 2) {
        const std::uint8_t c = message[i];
        if (c >= 32 && c <= 128)
            sink(std::string(1, static_cast<char>(c)));
        else
            sink(".");
    }
    sink("");
    sink("complete hexdump of package follows:");
    for (std::size_t i = 0; i < message.size(); ++i) {
        sink(Format("%02x", message[i]));
        if (i % 2 == 1)
            sink(" ");
        if (i % 16 == 15)
            sink("");
    }
    sink("");
}

void TraceAnswer(ByteSpan message, const TraceSink& sink)
{
    sink(Format("answer received, %d bytes", static_cast<int>(message.size())));
    TraceFields(message, Direction::Answer, sink);
    for (std::size_t i = kMessageHeaderSize; i < message.size(); i += 2) {
        const std::uint8_t c = message[i];
        if (c >= 32 && c <= 127)
            sink(std::string(1, static_cast<char>(c)));
        else
            sink(Format(" %02x ", c));
    }
    sink("");
}

} // namespace QVSaveProcessors::mms
