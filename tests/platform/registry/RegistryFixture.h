#pragma once
// Points both hives at files in a fresh folder for one test.
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

class RegistryTest : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    std::filesystem::path m_userFile = m_dir / "user.reg";
    std::filesystem::path m_machineFile = m_dir / "machine.reg";
    testsupport::ScopedEnv m_user { "QUILLORY_REGISTRY_USER", m_userFile.string() };
    testsupport::ScopedEnv m_machine { "QUILLORY_REGISTRY_MACHINE", m_machineFile.string() };

    static std::string ReadFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void WriteFile(const std::filesystem::path& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    static std::vector<std::uint8_t> Bytes(std::string_view s)
    {
        return { s.begin(), s.end() };
    }
};
