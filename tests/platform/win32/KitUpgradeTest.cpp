// One whole upgrade by the Windows command-line kit against the radio on the cable's port,
// found automatically through the registry. The kit is copied into a folder whose name the ANSI
// code page cannot spell, so the log it writes beside itself shows that the program's own path
// is taken as it really is.
//
// Runs only where the environment names a simulated radio (KESTRO_TEST_RADIO_PORT) that the USB
// keys give as the bridge of instance 0006: never against a real radio by accident.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "platform/Paths.h"
#include "serial/win32/WindowsLines.h"
#include "upgrade/Texts.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error, interleaved
};

// Runs `commandLine` to its end and collects what it writes.
bool RunProgram(const fs::path& program, const std::wstring& arguments, ProgramRun& run) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    const BOOL started =
        ::CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                         nullptr, program.parent_path().wstring().c_str(), &startup, &process);
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        return false;
    }
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        run.output.append(chunk, got);
    }
    ::CloseHandle(readEnd);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(KitUpgrade, UpgradesTheRadioFoundThroughTheRegistryAndLogsBesideTheProgram) {
    const auto radio = test::RadioPortFromEnvironment();
    const auto usb = test::UsbPortsFromEnvironment();
    if (!radio || usb.count("0006") == 0 || usb.at("0006") != *radio) {
        GTEST_SKIP() << "no simulated radio on the bridge of instance 0006";
    }
    ASSERT_TRUE(fs::is_regular_file(DefaultFirmwarePath()))
        << "the kit's firmware file is missing at " << DefaultFirmwarePath();

    const fs::path folder = fs::temp_directory_path() /
                            (L"kestro-kit-" + std::to_wstring(::GetCurrentProcessId())) /
                            L"Pr\u00FCfstand \u8A66\u9A13";
    fs::remove_all(folder.parent_path());
    fs::create_directories(folder);
    const fs::path kit = folder / L"kestro-upgrade.exe";
    fs::copy_file(ExecutablePath().parent_path() / "kestro-upgrade.exe", kit);
    // The compiler's runtime is inside the program; libpq, where the build has it, is a DLL beside it.
    if (const fs::path libpq = ExecutablePath().parent_path() / "libpq.dll"; fs::exists(libpq)) {
        fs::copy_file(libpq, folder / "libpq.dll");
    }

    ProgramRun run;
    ASSERT_TRUE(RunProgram(kit, L"--port auto", run)) << "cannot start " << kit;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find(texts::kCompleted), std::string::npos) << run.output;

    const std::string log = ReadBytes(folder / kLogFileName);
    const std::regex expected(
        " Date, Time, Serial Number, Pre FW Ver, CP, FW\r\n"
        "\\d{4}/\\d{2}/\\d{2}, \\d{2}:\\d{2}:\\d{2},[^,\r\n]{10},[^,\r\n]{5},(Yes|No),OK\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << "log beside the program:\n" << log;

    std::error_code ec;
    fs::remove_all(folder.parent_path(), ec);
}

}  // namespace
}  // namespace kestro
