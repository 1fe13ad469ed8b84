// Linked into every GoogleTest program: the tests run with a state folder of their own (a fresh
// XDG_STATE_HOME, which the kit and every kit a test starts use for the log and the recovery
// records), and a test program that still leaves a file in the user's real state folder fails.
// On Windows the state folder is beside the test program, which is its own already.

#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <unistd.h>

#include "platform/Paths.h"

namespace {

std::set<std::string> FilesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.insert(it->path().filename().string());
    }
    return names;
}

class StateFolderGuard final : public ::testing::Environment {
public:
    void SetUp() override {
        m_real = kestro::DefaultLogPath().parent_path();
        m_before = FilesIn(m_real);
        m_own = std::filesystem::temp_directory_path() /
                ("kestro-test-state-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_own);
        ::setenv("XDG_STATE_HOME", m_own.c_str(), 1);
    }
    void TearDown() override {
        for (const std::string& name : FilesIn(m_real)) {
            if (m_before.count(name) == 0) {
                ADD_FAILURE() << "a test left " << (m_real / name).string()
                              << " in the user's own state folder";
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(m_own, ec);
    }

private:
    std::filesystem::path m_real;
    std::filesystem::path m_own;
    std::set<std::string> m_before;
};

[[maybe_unused]] ::testing::Environment* const kGuard =
    ::testing::AddGlobalTestEnvironment(new StateFolderGuard);

}  // namespace

#endif
