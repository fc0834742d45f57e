#include "platform/registry/RegFileFormat.h"
#include "tests/platform/registry/ChildProcess.h"
#include "tests/platform/registry/RegistryFixture.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using platform::registry::Hive;
using platform::registry::HiveKey;
using platform::registry::ParseHiveText;

constexpr DWORD kSaves = 120;

// A payload that proves itself whole: its length and every byte follow
// from the writer and the round that wrote it, which it carries first.
std::vector<std::uint8_t> Payload(std::uint8_t writer, DWORD round)
{
    const std::size_t length = 8 + (writer * 7919u + round * 104729u) % 3000;
    std::vector<std::uint8_t> data(length);
    data[0] = writer;
    for (int i = 0; i < 4; ++i)
        data[1 + i] = static_cast<std::uint8_t>(round >> (8 * i));
    for (std::size_t i = 5; i < length; ++i)
        data[i] = static_cast<std::uint8_t>(writer * 31 + round + i);
    return data;
}

// The round a payload says it was written in, or an error.
std::string CheckPayload(std::span<const std::uint8_t> data, std::uint8_t writer, DWORD& round)
{
    if (data.size() < 5 || data[0] != writer)
        return "payload of another writer";
    round = DWORD { data[1] } | DWORD { data[2] } << 8 | DWORD { data[3] } << 16 | DWORD { data[4] } << 24;
    if (round >= kSaves || Payload(writer, round) != std::vector<std::uint8_t>(data.begin(), data.end()))
        return "payload not whole";
    return {};
}

DWORD ReadDword(std::span<const std::uint8_t> data)
{
    return data.size() != 4 ? 0xFFFFFFFF : DWORD { data[0] } | DWORD { data[1] } << 8 | DWORD { data[2] } << 16 | DWORD { data[3] } << 24;
}

// Each writer saves payload N then counter N, so in every version its
// counter is N or N-1 for the payload's N.
std::string CheckVersion(const HiveKey& root, DWORD lastCounter[3])
{
    const HiveKey* key = root.FindSubKey("Stress");
    if (!key)
        return {};
    for (std::uint8_t writer = 1; writer <= 2; ++writer) {
        const std::string suffix(1, static_cast<char>('0' + writer));
        const auto* payload = key->FindValue("payload" + suffix);
        const auto* counter = key->FindValue("counter" + suffix);
        if (!payload)
            continue;
        DWORD round = 0;
        if (std::string bad = CheckPayload(payload->data, writer, round); !bad.empty())
            return bad;
        const DWORD count = counter ? ReadDword(counter->data) : 0xFFFFFFFF;
        if (counter && count != round && count + 1 != round)
            return "counter " + std::to_string(count) + " with payload " + std::to_string(round);
        if (counter) {
            if (lastCounter[writer] != 0xFFFFFFFF && count < lastCounter[writer])
                return "a later read went back in time";
            lastCounter[writer] = count;
        }
    }
    return {};
}

std::string Hammer(std::uint8_t writer)
{
    RegKey key;
    const std::string suffix(1, static_cast<char>('0' + writer));
    for (DWORD round = 0; round < kSaves; ++round) {
        // Reopen now and then: opening and creating race with the other
        // writer's saves too.
        if (round % 16 == 0 && key.Create(HKEY_CURRENT_USER, "Stress") != ERROR_SUCCESS)
            return "create failed";
        if (key.SetBinaryValue(("payload" + suffix).c_str(), Payload(writer, round)) != ERROR_SUCCESS)
            return "payload save failed";
        if (key.SetDWORDValue(("counter" + suffix).c_str(), round) != ERROR_SUCCESS)
            return "counter save failed";
    }
    return {};
}

using ConcurrentSaves = RegistryTest;

TEST_F(ConcurrentSaves, TwoProcessesNeverTearTheFileAndBothKeepTheirValues)
{
    std::vector<std::unique_ptr<registrytest::Child>> writers;
    for (std::uint8_t w = 1; w <= 2; ++w) {
        writers.push_back(std::make_unique<registrytest::Child>([this, w] {
            registrytest::StderrCapture capture((m_dir / ("writer" + std::to_string(w) + ".err")).string());
            return Hammer(w);
        }));
    }

    // Read while they write: raw text, then through the API.
    DWORD rawCounters[3] = { 0, 0xFFFFFFFF, 0xFFFFFFFF };
    DWORD apiCounters[3] = { 0, 0xFFFFFFFF, 0xFFFFFFFF };
    std::string failure;
    int versionsSeen = 0;
    int running = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (running > 0 && failure.empty()) {
        if (std::chrono::steady_clock::now() > deadline) {
            failure = "writers did not finish in time";
            for (const auto& w : writers)
                w->Kill();
            break;
        }
        const std::string text = ReadFile(m_userFile);
        if (!text.empty()) {
            const auto parsed = ParseHiveText(text, Hive::CurrentUser);
            if (!parsed.root) {
                failure = "torn file: " + parsed.error;
                break;
            }
            failure = CheckVersion(*parsed.root, rawCounters);
            ++versionsSeen;
        }
        RegKey key;
        if (failure.empty() && key.Open(HKEY_CURRENT_USER, "Stress", KEY_READ) == ERROR_SUCCESS) {
            for (std::uint8_t w = 1; w <= 2 && failure.empty(); ++w) {
                DWORD count = 0;
                const std::string name = "counter" + std::string(1, static_cast<char>('0' + w));
                if (key.QueryDWORDValue(name.c_str(), count) == ERROR_SUCCESS) {
                    if (apiCounters[w] != 0xFFFFFFFF && count < apiCounters[w])
                        failure = "API read went back in time";
                    apiCounters[w] = count;
                }
            }
        }
        running = 0;
        for (const auto& w : writers)
            running += w->Running() ? 1 : 0;
    }
    for (const auto& w : writers)
        EXPECT_EQ(w->Wait(), "");
    ASSERT_EQ(failure, "");
    EXPECT_GT(versionsSeen, 0);

    // Both writers' last saves are there, nothing was lost.
    const auto parsed = ParseHiveText(ReadFile(m_userFile), Hive::CurrentUser);
    ASSERT_TRUE(parsed.root) << parsed.error;
    const HiveKey* key = parsed.root->FindSubKey("Stress");
    ASSERT_NE(key, nullptr);
    for (std::uint8_t w = 1; w <= 2; ++w) {
        const std::string suffix(1, static_cast<char>('0' + w));
        ASSERT_NE(key->FindValue("counter" + suffix), nullptr);
        EXPECT_EQ(ReadDword(key->FindValue("counter" + suffix)->data), kSaves - 1);
        EXPECT_EQ(key->FindValue("payload" + suffix)->data, Payload(w, kSaves - 1));
        EXPECT_EQ(ReadFile(m_dir / ("writer" + suffix + ".err")), "") << "a writer saw a damaged file";
    }
}

TEST_F(ConcurrentSaves, ThreadsOfOneProcessKeepEveryValue)
{
    constexpr int kThreads = 4;
    constexpr int kValuesEach = 40;
    std::vector<std::thread> threads;
    std::vector<std::string> errors(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &errors] {
            RegKey key;
            if (key.Create(HKEY_CURRENT_USER, "Threads") != ERROR_SUCCESS) {
                errors[t] = "create failed";
                return;
            }
            for (int i = 0; i < kValuesEach; ++i) {
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                DWORD back = 0;
                if (key.SetDWORDValue(name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS
                    || key.QueryDWORDValue(name.c_str(), back) != ERROR_SUCCESS || back != static_cast<DWORD>(i)) {
                    errors[t] = "lost " + name;
                    return;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const std::string& e : errors)
        EXPECT_EQ(e, "");
    RegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Threads", KEY_READ), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(key.get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kValuesEach));
}

} // namespace
