#pragma once
// Headless Chromium driven by Playwright (tests/webui/e2e/driver.mjs) plays
// the user in every window the web view opens: each window runs the
// driver once, with the test's scenario and the window's role, and the
// driver writes what it saw as JSON. Tests are skipped, with the reason,
// when Chromium, Node or the driver's package are not to be had.
//
// Each test gets a fresh HOME, registry hives, XDG folders and TMPDIR.
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"
#include "webui/BrowserLauncher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BrowserFixture : public ::testing::Test {
public:
    // The build folder: the driver's package and the screenshots go there.
    [[nodiscard]] static std::filesystem::path BuildDir();

protected:
    void SetUp() override;

    // A launcher that plays `scenario` in every window it is asked for.
    [[nodiscard]] webui::Launcher DriverLauncher(const std::string& scenario);
    // What the driver of the window with `role` wrote.
    [[nodiscard]] nlohmann::json Result(const std::string& role) const;
    // The windows asked for, in order.
    [[nodiscard]] std::vector<webui::WindowRequest> Requests();
    // The values under the grabber's settings key, by name.
    static void StoreSetting(const char* name, DWORD type, const std::vector<std::uint8_t>& bytes);
    [[nodiscard]] static std::map<std::string, std::vector<std::uint8_t>> StoredSettings();

    testsupport::TempDir m_home;

private:
    std::string m_node;
    std::filesystem::path m_driverDir;
    std::vector<std::unique_ptr<testsupport::ScopedEnv>> m_env;
    std::mutex m_mutex; // windows may be asked for on several threads
    std::vector<webui::WindowRequest> m_requests;
};
