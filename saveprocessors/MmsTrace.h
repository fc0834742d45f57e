#pragma once
// Diagnostic dumps of the MMS messages a client sends and receives. Each
// piece is handed to `sink` as one trace call, in the established layout of
// these dumps (field lines, then the payload's characters, then, for sent
// messages, a hex dump), so traces can be compared with other clients'.
//
// Thread: any (pure; the sink decides where lines go).
#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

#include "saveprocessors/MmsMessage.h"

namespace QVSaveProcessors::mms {

using TraceSink = std::function<void(std::string_view)>;

// printf-style formatting into a std::string.
[[nodiscard]] std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// After a command message went out whole.
void TraceSentMessage(ByteSpan message, const TraceSink& sink);
// After an answer was read; `message` is the whole answer.
void TraceAnswer(ByteSpan message, const TraceSink& sink);

} // namespace QVSaveProcessors::mms
