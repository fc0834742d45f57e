#include "tests/support/GeneratedContent.h"

#include <array>
#include <fstream>
#include <iterator>

namespace testsupport {

namespace {

constexpr std::size_t kBlock = 65536;

std::vector<std::uint8_t> Block(std::uint32_t seed)
{
    std::vector<std::uint8_t> block(kBlock);
    std::uint32_t x = seed * 2654435761u + 1u;
    for (std::size_t i = 0; i < kBlock; ++i) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        block[i] = static_cast<std::uint8_t>((x >> 16) & 0xFF);
    }
    return block;
}

} // namespace

std::vector<std::uint8_t> GeneratedBytes(std::size_t size, std::uint32_t seed)
{
    const std::vector<std::uint8_t> block = Block(seed);
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = block[i % kBlock] ^ static_cast<std::uint8_t>((i / kBlock) & 0xFF);
    return out;
}

std::string CompareWithGenerated(const std::filesystem::path& path, std::size_t size, std::uint32_t seed)
{
    const std::vector<std::uint8_t> actual = ReadFileBytes(path);
    if (actual.size() != size)
        return path.string() + " holds " + std::to_string(actual.size()) + " bytes, expected " + std::to_string(size);
    const std::vector<std::uint8_t> expected = GeneratedBytes(size, seed);
    for (std::size_t i = 0; i < size; ++i) {
        if (actual[i] != expected[i])
            return path.string() + " differs at byte " + std::to_string(i);
    }
    return {};
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace testsupport
