#pragma once
// Whole-resource fetch into memory, for text the dialog's page loads
// (LoadText). A `file` URL is read from the disk; the other known schemes
// go through platform/inet with the agent string "ZAVI".
//
// Thread: any. Blocks the caller until the resource has been read or the
// transfer has failed; the transfer's time limits bound the wait.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace QVSaveProcessors {

// Agent string of FetchUrlToBuffer's requests.
inline constexpr const char* kFetchAgent = "ZAVI";
// Largest resource fetched into memory; a bigger one fails the fetch rather
// than exhausting memory.
inline constexpr std::size_t kMaxFetchBytes = 64 * 1024 * 1024;

// Appends the resource's bytes to `buffer`. True only when the whole
// resource arrived (an empty one included); on failure `buffer` keeps what
// it held before the call.
[[nodiscard]] bool FetchUrlToBuffer(std::string_view url, std::vector<std::uint8_t>& buffer);

} // namespace QVSaveProcessors
