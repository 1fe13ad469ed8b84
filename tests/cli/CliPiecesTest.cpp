// The command-line kit's pieces: how it prints what the run reports, how it reads its options
// and how a port choice becomes the settings the hub reads.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/upgrade/CommandLine.h"
#include "cli/upgrade/ConsoleReporter.h"
#include "cli/upgrade/ExitCodes.h"
#include "serial/PortNames.h"
#include "upgrade/PortSetting.h"
#include "upgrade/Texts.h"

namespace kestro::cli {
namespace {

// Everything written to a temporary stream.
class Captured {
public:
    Captured() : m_file(std::tmpfile()) {}
    ~Captured() { std::fclose(m_file); }
    std::FILE* file() { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string text;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) text.append(buffer, n);
        return text;
    }

private:
    std::FILE* m_file;
};

TEST(ConsoleReporter, AMessageBoxIsOneLineWithTitleAndIcon) {
    Captured out;
    ConsoleReporter reporter(out.file(), false);
    reporter.MessageBox(texts::kWriteError4, TitleKind::Kit, Icon::Error);
    reporter.MessageBox("a\r\nb\n\nc", TitleKind::PortError, Icon::Warning);
    EXPECT_EQ(out.Text(),
              "[Kestro Upgrade Kit] error: Write Error #4 Unable to write. Please try again.\n"
              "[Application Error] warning: a b c\n");
}

TEST(ConsoleReporter, WithoutATerminalEachWholePercentIsOneLineWhileTheBarIsShown) {
    Captured out;
    ConsoleReporter reporter(out.file(), false);
    reporter.SetProgress(5);  // hidden: nothing
    reporter.ShowProgress(true);
    reporter.SetProgressText("Firmware Writing  1%");
    reporter.SetProgress(1);
    reporter.SetProgress(1);
    reporter.SetProgress(101);  // out of range: ignored
    reporter.SetProgress(-1);
    reporter.SetStatusText("Boot Writing !");
    reporter.SetProgress(2);
    reporter.ShowProgress(false);
    reporter.SetProgress(3);
    EXPECT_EQ(out.Text(),
              "progress 1% (Firmware Writing  1%)\n"
              "Boot Writing !\n"
              "progress 2% (Firmware Writing  1%)\n");
}

TEST(ConsoleReporter, OnATerminalTheBarIsDrawnInPlaceAndClearedForEachLine) {
    Captured out;
    ConsoleReporter reporter(out.file(), true);
    reporter.ShowProgress(true);
    reporter.SetProgressText("Boot Writing 50%");
    reporter.SetProgress(50);
    reporter.SetStatusText("Boot Swap ! ");
    reporter.ShowProgress(false);
    const std::string text = out.Text();
    const std::string bar = ConsoleReporter::BarLine(50, "Boot Writing 50%", 80);
    EXPECT_EQ(bar, "[###############...............]  50% Boot Writing 50%");
    // Every status line starts on a cleared line, and the bar ends cleared.
    EXPECT_NE(text.find("\r" + bar + "\033[K\r\033[KBoot Swap ! \n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
    EXPECT_EQ(ConsoleReporter::BarLine(100, "", 80).substr(0, 32), "[" + std::string(30, '#') + "]");
    EXPECT_EQ(ConsoleReporter::BarLine(40, "a long label", 20).size(), 19U);
}

TEST(PortChoice, EachFormSelectsItsPort) {
    struct Case {
        const char* choice;
        const char* autoValue;
        const char* com;
    };
    const Case cases[] = {
        {"auto", "Yes", ""},    {"AUTO", "Yes", ""}, {"COM5", "No", "COM5"}, {"com12", "No", "COM12"},
#ifndef _WIN32
        // The Linux port-number rule.
        {"/dev/ttyUSB0", "No", "COM33"}, {"/dev/ttyACM1", "No", "COM66"},
#endif
    };
    for (const Case& c : cases) {
        MemorySettings settings;
        std::string error;
        ASSERT_TRUE(ApplyPortChoice(c.choice, settings, error)) << c.choice << ": " << error;
        EXPECT_EQ(settings.GetString(kSettingsSection, kAutoValue), c.autoValue) << c.choice;
        EXPECT_EQ(settings.GetString(kSettingsSection, kComValue), c.com) << c.choice;
    }
}

TEST(PortChoice, AnOtherDeviceGetsAFreeNumberThatLeadsBackToIt) {
    MemorySettings settings;
    std::string error;
    ASSERT_TRUE(ApplyPortChoice("/tmp/kestro-line", settings, error));
    const int port = PortNumberFromSettings(settings);
    EXPECT_GE(port, kFirstFreePort);
    EXPECT_EQ(DevicePathForPort(port), "/tmp/kestro-line");
    UnregisterPortDevice(port);
}

TEST(PortChoice, AnythingElseIsRefusedWithAReason) {
    for (const char* bad : {"", "COM", "COM0", "COMx", "5", "COM5x", "ttyUSB0", "COM99999999999"}) {
        MemorySettings settings;
        std::string error;
        EXPECT_FALSE(ApplyPortChoice(bad, settings, error)) << bad;
        EXPECT_NE(error.find("--port"), std::string::npos) << bad;
        EXPECT_FALSE(settings.Has(kSettingsSection, kAutoValue)) << bad;
    }
}

std::optional<CommandLine> Parse(std::vector<const char*> args, int& code) {
    args.insert(args.begin(), "kestro-upgrade");
    code = -1;
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), code);
}

TEST(CommandLineOptions, SimulateTakesAnOptionalKnownScenario) {
    int code;
    auto options = Parse({"--simulate"}, code);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->simulate);
    EXPECT_EQ(options->scenario, "normal");
    options = Parse({"--simulate=battery-low", "--trace", "--recovery"}, code);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->scenario, "battery-low");
    EXPECT_TRUE(options->trace);
    EXPECT_TRUE(options->recovery);
    options = Parse({"--port", "COM4", "--firmware", "f.pvx", "--log", "l.csv"}, code);
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->simulate);
    EXPECT_EQ(options->port, "COM4");
    EXPECT_EQ(options->firmware, "f.pvx");
    EXPECT_EQ(options->log, "l.csv");
}

TEST(CommandLineOptions, UsageErrorsEndWithTheUsageCodeAndHelpWithZero) {
    int code;
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(Parse({"--simulate=nonsense"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--simulate", "--port", "COM3"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--frobnicate"}, code));
    EXPECT_EQ(code, kExitUsage);
    EXPECT_FALSE(Parse({"--help"}, code));
    EXPECT_EQ(code, kExitCompleted);
    const std::string help = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(help.find("130"), std::string::npos);
    EXPECT_NE(help.find("cable-pulled"), std::string::npos);
}

}  // namespace
}  // namespace kestro::cli
