#pragma once
// Native messaging, the host's side (the protocol Chromium and Firefox
// share): each message is a 32-bit length in native byte order, then that
// many bytes of UTF-8 JSON. A browser sends at most 64 MiB in one message
// and takes at most 1 MiB from the host.
//
// A page snapshot larger than one message arrives in pieces
// ({"type":"snapshot","id","part","parts","data"}), which SnapshotAssembler
// puts back together within its own bounds.
#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace host {

inline constexpr std::size_t kMaxMessageFromBrowser = 64u << 20;
inline constexpr std::size_t kMaxMessageToBrowser = 1u << 20;

enum class ReadStatus {
    Ok,        // a whole message
    End,       // the browser closed the stream between messages
    Truncated, // the stream ended inside a message
    TooLarge,  // the length is above the limit (nothing of it was read)
    Stopped,   // ShutdownRead was called
    Failed,    // a read error
};

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::string message;
    std::string error; // one line when status is not Ok
    bool ok() const { return status == ReadStatus::Ok; }
};

// Thread: Read from one thread at a time; Write and ShutdownRead from any.
class NativeChannel {
public:
    // Takes ownership of neither descriptor's lifetime but `out`'s: it is
    // closed by the destructor (the host's private copy of stdout).
    NativeChannel(int in, int out, std::size_t maxRead = kMaxMessageFromBrowser);
    ~NativeChannel();
    NativeChannel(const NativeChannel&) = delete;
    NativeChannel& operator=(const NativeChannel&) = delete;

    ReadResult Read();
    // False when the message is above the browser's limit or the stream is gone.
    [[nodiscard]] bool Write(std::string_view json);
    // Makes a waiting or later Read return Stopped.
    void ShutdownRead();

private:
    int m_in;
    int m_out;
    int m_wake[2] = { -1, -1 };
    std::size_t m_maxRead;
    std::mutex m_writeMutex;
};

// Thread: one thread.
class SnapshotAssembler {
public:
    explicit SnapshotAssembler(std::size_t maxBytes = 256u << 20, std::size_t maxParts = 4096)
        : m_maxBytes(maxBytes), m_maxParts(maxParts) { }

    // Adds one piece; pieces of one snapshot come in order, a new id starts
    // over. False (with a one-line error) for a piece out of order, of the
    // wrong shape, or past the bounds.
    [[nodiscard]] bool Add(const nlohmann::json& piece, std::string& error);
    // The whole text of snapshot `id`; nullopt unless every piece arrived.
    [[nodiscard]] std::optional<std::string> Take(std::int64_t id, std::string& error);

private:
    std::size_t m_maxBytes;
    std::size_t m_maxParts;
    std::int64_t m_id = -1;
    std::int64_t m_parts = 0;
    std::int64_t m_next = 0;
    std::string m_text;
};

} // namespace host
