#pragma once
// The byte stream under an MMS session: a TCP socket in the product, bytes
// from memory in tests and in the fuzzer.
#include <cstddef>
#include <span>

#include "saveprocessors/MmsMessage.h"

namespace QVSaveProcessors::mms {

enum class IoStatus {
    Ok,       // `count` bytes were moved
    Closed,   // the peer closed the connection
    Error,    // the system reported `error` (an errno value)
    Stopped,  // a stop was requested while waiting
    TimedOut, // the peer was silent for longer than the idle time limit
};

struct IoResult {
    IoStatus status = IoStatus::Ok;
    std::size_t count = 0;
    int error = 0;
};

// Thread: the one session that uses it.
class MmsTransport {
public:
    virtual ~MmsTransport() = default;
    // Receives at least one byte and at most buffer.size() bytes.
    [[nodiscard]] virtual IoResult Receive(std::span<std::uint8_t> buffer) = 0;
    // Sends all of `bytes`, or fails.
    [[nodiscard]] virtual IoResult Send(ByteSpan bytes) = 0;
    // For the message of a TimedOut read.
    [[nodiscard]] virtual double IdleLimitSeconds() const = 0;
};

} // namespace QVSaveProcessors::mms
