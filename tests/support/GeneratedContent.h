#pragma once
// The bytes that tests/servers/http_server.py generates for (size, seed),
// recomputed here so a test can check every byte a download wrote.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

std::vector<std::uint8_t> GeneratedBytes(std::size_t size, std::uint32_t seed);

// Reads `path`; "" when it holds exactly GeneratedBytes(size, seed), else a
// description of the first difference (size, or offset of a wrong byte).
std::string CompareWithGenerated(const std::filesystem::path& path, std::size_t size, std::uint32_t seed);

// Whole file as bytes (empty when it cannot be read).
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Writes `bytes` to `path`, replacing it.
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

} // namespace testsupport
