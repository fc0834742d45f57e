#include "platform/registry/RegFileFormat.h"
#include "tests/platform/registry/RegistryFixture.h"

#include <chrono>
#include <thread>

namespace {

using namespace registrytest;
using platform::registry::Hive;
using platform::registry::HiveKey;
using platform::registry::ParseHiveText;

constexpr DWORD kSaves = 120;
constexpr DWORD kNone = 0xFFFFFFFF;

std::string Suffixed(const char* name, int writer) { return name + std::to_string(writer); }

DWORD Le32(const std::uint8_t* p) { return DWORD { p[0] } | DWORD { p[1] } << 8 | DWORD { p[2] } << 16 | DWORD { p[3] } << 24; }

// A payload that proves itself whole: its length and every byte follow
// from the writer and the round that wrote it, which it carries first.
std::vector<std::uint8_t> Payload(int writer, DWORD round)
{
    const std::size_t length = 8 + (writer * 7919u + round * 104729u) % 3000;
    std::vector<std::uint8_t> data(length);
    data[0] = static_cast<std::uint8_t>(writer);
    for (int i = 0; i < 4; ++i)
        data[1 + i] = static_cast<std::uint8_t>(round >> (8 * i));
    for (std::size_t i = 5; i < length; ++i)
        data[i] = static_cast<std::uint8_t>(writer * 31 + round + i);
    return data;
}

// Each writer saves payload N then counter N, so every version of the file
// holds whole payloads, each counter is N or N-1, and no counter goes back.
std::string CheckVersion(const HiveKey& root, DWORD last[3])
{
    const HiveKey* key = root.FindSubKey("Stress");
    for (int w = 1; key && w <= 2; ++w) {
        const auto* payload = key->FindValue(Suffixed("payload", w));
        const auto* counter = key->FindValue(Suffixed("counter", w));
        if (!payload)
            continue;
        if (payload->data.size() < 5 || payload->data[0] != w)
            return "payload of another writer";
        const DWORD round = Le32(&payload->data[1]);
        if (round >= kSaves || Payload(w, round) != payload->data)
            return "payload not whole";
        if (!counter)
            continue;
        const DWORD count = counter->data.size() == 4 ? Le32(counter->data.data()) : kNone;
        if (count != round && count + 1 != round)
            return "counter " + std::to_string(count) + " with payload " + std::to_string(round);
        if (last[w] != kNone && count < last[w])
            return "a later read went back in time";
        last[w] = count;
    }
    return {};
}

std::string Hammer(int writer)
{
    RegKey key;
    for (DWORD round = 0; round < kSaves; ++round) {
        // Reopen now and then: opening and creating race with the other
        // writer's saves too.
        if (round % 16 == 0 && key.Create(HKEY_CURRENT_USER, "Stress") != ERROR_SUCCESS)
            return "create failed";
        if (key.SetBinaryValue(Suffixed("payload", writer).c_str(), Payload(writer, round)) != ERROR_SUCCESS)
            return "payload save failed";
        if (key.SetDWORDValue(Suffixed("counter", writer).c_str(), round) != ERROR_SUCCESS)
            return "counter save failed";
    }
    return {};
}

using ConcurrentSaves = RegistryTest;

TEST_F(ConcurrentSaves, TwoProcessesNeverTearTheFileAndBothKeepTheirValues)
{
    std::vector<std::unique_ptr<Child>> writers;
    for (int w = 1; w <= 2; ++w) {
        writers.push_back(std::make_unique<Child>([this, w] {
            StderrCapture capture((m_dir / Suffixed("writer", w)).string());
            return Hammer(w);
        }));
    }

    // Read while they write: raw text, then through the API.
    DWORD rawCounters[3] = { 0, kNone, kNone };
    DWORD apiCounters[3] = { 0, kNone, kNone };
    std::string failure;
    int versionsSeen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int running = 2; running > 0 && failure.empty();) {
        if (std::chrono::steady_clock::now() > deadline) {
            failure = "writers did not finish in time";
            for (const auto& w : writers)
                w->Kill();
            break;
        }
        if (const std::string text = ReadFile(m_userFile); !text.empty()) {
            const auto parsed = ParseHiveText(text, Hive::CurrentUser);
            failure = parsed.root ? CheckVersion(*parsed.root, rawCounters) : "torn file: " + parsed.error;
            ++versionsSeen;
        }
        RegKey key;
        if (failure.empty() && key.Open(HKEY_CURRENT_USER, "Stress", KEY_READ) == ERROR_SUCCESS) {
            for (int w = 1; w <= 2; ++w) {
                DWORD count = 0;
                if (key.QueryDWORDValue(Suffixed("counter", w).c_str(), count) != ERROR_SUCCESS)
                    continue;
                if (apiCounters[w] != kNone && count < apiCounters[w])
                    failure = "API read went back in time";
                apiCounters[w] = count;
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
    for (int w = 1; w <= 2; ++w) {
        const auto* counter = key->FindValue(Suffixed("counter", w));
        ASSERT_TRUE(counter && counter->data.size() == 4);
        EXPECT_EQ(Le32(counter->data.data()), kSaves - 1);
        EXPECT_EQ(key->FindValue(Suffixed("payload", w))->data, Payload(w, kSaves - 1));
        EXPECT_EQ(ReadFile(m_dir / Suffixed("writer", w)), "") << "a writer saw a damaged file";
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
            if (key.Create(HKEY_CURRENT_USER, "Threads") != ERROR_SUCCESS)
                errors[t] = "create failed";
            for (DWORD i = 0; i < kValuesEach && errors[t].empty(); ++i) {
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
                DWORD back = 0;
                if (key.SetDWORDValue(name.c_str(), i) != ERROR_SUCCESS
                    || key.QueryDWORDValue(name.c_str(), back) != ERROR_SUCCESS || back != i)
                    errors[t] = "lost " + name;
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
