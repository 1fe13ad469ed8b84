#include "soak/SoakCase.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "soak/DamagedLine.h"
#include "soak/FaultPlan.h"
#include "soak/RetryBounds.h"
#include "soak/RunEnds.h"
#include "soak/SoakFirmware.h"
#include "firmware/FirmwareLoader.h"
#include "firmware/FirmwareTexts.h"
#include "log/UpgradeLog.h"
#include "protocol/CommandTable.h"
#include "runcore/VirtualRun.h"
#include "upgrade/Reporter.h"
#include "upgrade/Texts.h"
#include "upgrade/UpgradeHub.h"

namespace kestro::soak {

namespace {

constexpr std::uint16_t kDecidingAddress = 0x3197;
constexpr std::uint8_t kDecidingValue = 0x6F;

// Keeps what the soak checks: the last status, the boxes of the current run, the bar's state.
struct SoakReporter final : IReporter {
    void SetStatusText(const std::string& text) override { status = text; }
    void SetProgressText(const std::string&) override {}
    void SetProgress(int position) override {
        if (position < 0 || position > 100) badPosition = true;
    }
    void ShowProgress(bool show) override { progressVisible = show; }
    void MessageBox(const std::string& text, TitleKind, Icon) override { boxes.push_back(text); }

    std::string status;
    std::vector<std::string> boxes;
    bool progressVisible = false;
    bool badPosition = false;
};

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The log's lines after the header.
std::vector<std::string> LogLines(const std::filesystem::path& path) {
    const std::string text = ReadAll(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (!lines.empty() && lines.front() == kLogHeader) lines.erase(lines.begin());
    return lines;
}

// A log line without its date and time columns.
std::string AfterTimestamp(const std::string& line) {
    const auto first = line.find(',');
    const auto second = first == std::string::npos ? first : line.find(',', first + 1);
    return second == std::string::npos ? std::string{} : line.substr(second + 1);
}

template <std::size_t N>
std::string Text(const std::array<std::uint8_t, N>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Everything one case owns: the shared virtual run with a damaged line between its hub and its
// link. The hub goes first, before the line it sends through.
struct Bench {
    SoakReporter reporter;
    std::filesystem::path logPath;
    VirtualRun run;
    DamagedLine line{run.link, run.clock};
    VirtualClock& clock = run.clock;
    SimRadio& radio = run.radio;
    std::unique_ptr<CUpgradeHub>& hub = run.hub;

    Bench(const SimRadioConfig& config, const std::filesystem::path& firmware,
          std::filesystem::path log)
        : logPath(std::move(log)), run(VirtualRunOptions{firmware, logPath, {}, config, &reporter}) {
        clock.SetRecording(false);  // thousands of waits per run; nothing reads them back
        run.RebuildHub({.engine = &line});
    }
    ~Bench() { hub.reset(); }
};

class RunChecker {
  public:
    RunChecker(Bench& bench, const CCommFile& image, CaseResult& result)
        : m_b(bench), m_image(image), m_result(result) {}

    // Runs one upgrade and checks how it ended; returns the end it took (nullptr: unspecified).
    const RunEnd* Run(const char* label) {
        m_label = label;
        const bool recovery = m_b.hub->RecoveryFlag() == 1;
        const auto armedBy = m_b.hub->ArmedRecord();
        m_armedSerial = armedBy ? armedBy->serial : std::string{};
        // A run that ends programming leaves a radio that restarts on the new firmware: the log
        // holds the version from before.
        m_versionBefore = Text(m_b.radio.Config().version);
        const bool needsRestore = m_b.radio.CodeplugByte(kDecidingAddress) != kDecidingValue;
        const std::vector<std::string> linesBefore = LogLines(m_b.logPath);
        const std::size_t rows =
            static_cast<std::size_t>(m_image.m_rowCount - m_image.m_appStartRow);
        const RunBound bound = LongestRun(rows, recovery);
        m_b.reporter.boxes.clear();
        m_b.line.StartRun(bound);
        m_firstRequest = m_b.radio.Requests().size();
        m_forged = 0;
        const auto start = m_b.clock.Now();

        StartResult started{};
        std::string broke;
        try {
            started = m_b.hub->OnUpgrade();
        } catch (const RunOverrun& e) {
            broke = std::string("the run did not end: ") + e.what();
        } catch (const std::exception& e) {
            broke = std::string("the run threw: ") + e.what();
        }
        // Counted before any finding, so that every finding of the run is put where it belongs.
        const auto& heard = m_b.radio.Requests();
        for (std::size_t k = m_firstRequest; k < heard.size(); ++k) {
            if (!m_b.line.SentThisRun(heard[k].frame.view())) ++m_forged;
        }
        m_result.forgedRequests += m_forged;
        if (!broke.empty()) {
            Violation(broke);
            return nullptr;
        }
        if (started != StartResult::Started) {
            Violation("the run did not start (" + std::to_string(static_cast<int>(started)) + ")");
            return nullptr;
        }
        if (m_b.hub->UpgradeRunningFlag() != 0) Violation("m_upgradeRunning is still 1");
        const auto elapsed = m_b.clock.Now() - start;
        if (elapsed > bound.time) {
            Violation("took " + std::to_string(elapsed.count()) + " ms, more than the " +
                      std::to_string(bound.time.count()) + " ms its retries allow");
        }
        if (m_b.reporter.badPosition) Violation("a progress position outside 0..100");

        if (m_b.radio.CableLost()) m_b.radio.Reconnect();  // the user plugs the cable back in

        const bool completed = m_b.hub->LastOutcome() == RunOutcome::Completed;
        const RunEnd* end = FindRunEnd(m_b.reporter.boxes, completed);
        if (end == nullptr) {
            std::string boxes;
            for (const auto& box : m_b.reporter.boxes) boxes += " [" + box + "]";
            Violation("an end the kit does not specify:" + boxes);
            return nullptr;
        }
        if (!end->completed && end->boxes.empty()) {
            // Only two steps end without a message: the battery query and the restore
            // preparation.
            const std::uint16_t last = m_b.line.LastCommand();
            const auto command = [](RequestId id) {
                return static_cast<std::uint16_t>((CommandOf(id).group << 8) |
                                                  CommandOf(id).opcode);
            };
            if (last != command(REQ_BATTERY) && last != command(REQ_CP_PREPARE)) {
                Violation("ended without a message after request " + std::to_string(last));
            }
        }
        CheckEnd(*end, recovery, needsRestore, linesBefore);
        CheckRadio(*end);
        return end;
    }

  private:
    void Violation(const std::string& what) {
        auto& list = m_forged != 0 ? m_result.forgedFindings : m_result.violations;
        list.push_back(m_label + ": " + what);
    }

    void CheckEnd(const RunEnd& end, bool recovery, bool needsRestore,
                  const std::vector<std::string>& linesBefore) {
        const std::string status = end.status != nullptr ? end.status : kFirmwareLoadingText;
        if (m_b.reporter.status != status) {
            Violation(std::string(end.name) + " left the status \"" + m_b.reporter.status +
                      "\" instead of \"" + status + "\"");
        }
        if (end.completed != (m_b.hub->LastOutcome() == RunOutcome::Completed)) {
            Violation(std::string(end.name) + " with the outcome of the other kind");
        }
        if (end.completed && m_b.reporter.progressVisible)
            Violation("completed with the bar shown");
        if (end.programming && !end.completed && !m_b.reporter.progressVisible) {
            Violation(std::string(end.name) + " hid the progress bar");
        }

        const int flag = m_b.hub->RecoveryFlag();
        const int expected = end.recovery == RecoveryEffect::Set       ? 1
                             : end.recovery == RecoveryEffect::Cleared ? 0
                                                                       : (recovery ? 1 : 0);
        if (flag != expected) {
            Violation(std::string(end.name) + " left m_recoveryMode " + std::to_string(flag));
        }

        const std::vector<std::string> lines = LogLines(m_b.logPath);
        if (lines.size() < linesBefore.size() ||
            !std::equal(linesBefore.begin(), linesBefore.end(), lines.begin())) {
            Violation("earlier log lines were lost or changed");
            return;
        }
        const std::size_t added = lines.size() - linesBefore.size();
        if (end.logResults.empty()) {
            if (added != 0) Violation(std::string(end.name) + " wrote a log line");
            return;
        }
        if (added != 1) {
            Violation(std::string(end.name) + " wrote " + std::to_string(added) + " log lines");
            return;
        }
        const SimRadioConfig& radio = m_b.radio.Config();
        std::string record;
        if (!recovery) {
            record = LogField(Text(radio.serial)) + "," + LogField(m_versionBefore) + ",";
            if (end.completed) record += needsRestore ? "Yes," : "No,";
        } else {
            // Nothing is read from the radio: the serial number of the record that armed the
            // run, if one did, and empty version and codeplug columns.
            record = LogField(m_armedSerial) + ",,,";
        }
        const std::string logged = AfterTimestamp(lines.back());
        const bool known =
            std::any_of(end.logResults.begin(), end.logResults.end(),
                        [&](const char* result) { return logged == record + result; });
        if (!known) Violation(std::string(end.name) + " logged \"" + logged + "\"");
    }

    // Whatever the end, the radio holds nothing but this firmware, and a radio left between
    // erase and boot swap is always known to need recovery.
    void CheckRadio(const RunEnd& end) {
        const SimRadio& radio = m_b.radio;
        for (std::size_t r = 0; r < kFlashRows; ++r) {
            const auto row = static_cast<std::uint16_t>(r);
            if (!radio.RowWritten(row)) continue;
            const CCommFile::Row* expected = RowOf(row);
            const auto stored = radio.FlashRow(row);
            if (expected == nullptr ||
                !std::equal(stored.begin(), stored.end(), expected->begin() + 2)) {
                Violation("flash row " + std::to_string(r) + " holds what the firmware does not");
                return;
            }
        }
        if (radio.BootSwaps() > 0 && !BootAreaMatches(radio.ActiveBootArea())) {
            Violation("a boot area other than the firmware's was swapped in");
        }
        if (radio.State() == RadioState::NeedsRecovery && m_b.hub->RecoveryFlag() != 1) {
            Violation("the radio needs recovery but m_recoveryMode is 0");
        }
        if (!end.completed) return;
        for (int p = m_image.m_appStartRow; p < m_image.m_rowCount; ++p) {
            const auto& row = m_image.RowAt(p);
            const auto number = static_cast<std::uint16_t>((row[0] << 8) | row[1]);
            if (!radio.RowWritten(number)) {
                Violation("completed without writing row " + std::to_string(number));
                return;
            }
        }
        // The last swap request may have been a repeat the radio refused; what counts is that
        // a swap took place (the boot area was compared above).
        if (radio.BootSwaps() == 0) Violation("completed without a boot swap");
        if (radio.State() != RadioState::Normal) Violation("completed with the radio not normal");
    }

    const CCommFile::Row* RowOf(std::uint16_t number) const {
        const auto begin = m_image.m_rowTable.begin();
        const auto end = begin + m_image.m_rowCount;
        const auto it =
            std::lower_bound(begin, end, number, [](const CCommFile::Row& row, std::uint16_t n) {
                return ((row[0] << 8) | row[1]) < n;
            });
        if (it == end || ((*it)[0] << 8 | (*it)[1]) != number) return nullptr;
        return &*it;
    }

    bool BootAreaMatches(std::span<const std::uint8_t, kBootImageSize> area) const {
        for (int k = 0; k < 256; ++k) {
            const auto& row = m_image.RowAt(k);
            if (!std::equal(row.begin() + 2, row.end(), area.begin() + 16 * k)) return false;
        }
        return true;
    }

    Bench& m_b;
    const CCommFile& m_image;
    CaseResult& m_result;
    std::string m_label;
    std::string m_armedSerial;  // of the record that armed the current run, if one did
    std::string m_versionBefore;  // the radio's firmware version when the current run began
    std::size_t m_firstRequest = 0;
    std::size_t m_forged = 0;  // requests of this run the kit never sent
};

std::size_t FaultFreeRequests(const CCommFile& image) {
    return 12 + 4 + static_cast<std::size_t>(image.m_rowCount - image.m_appStartRow) + 1 + 256 + 2;
}

}  // namespace

SoakRunner::SoakRunner(std::filesystem::path folder, SoakHooks hooks)
    : m_folder(std::move(folder)), m_hooks(std::move(hooks)) {
    for (const std::size_t rows : SoakImageSizes()) {
        Image image{rows, m_folder / ("firmware-" + std::to_string(rows) + ".pvx"), {}};
        const std::string text = SoakFirmwareText(rows);
        std::ofstream(image.path, std::ios::binary) << text;
        HexParseError error;
        if (!image.file.ParseHexRecords(text, error)) {
            throw std::logic_error("soak firmware refused: " + FirmwareDamagedText(error));
        }
        image.file.BuildRowTable();
        m_images.push_back(std::move(image));
    }
}

CaseResult SoakRunner::RunCase(std::uint64_t seed, std::size_t index) const {
    std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                      static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(index >> 32)};
    std::mt19937 random(seq);
    const Image& image = m_images[random() % m_images.size()];
    FaultPlan plan = DrawFaultPlan(random, FaultFreeRequests(image.file));

    CaseResult result;
    result.description = std::to_string(image.applicationRows) + " rows; " + plan.description;
    const auto logPath = m_folder / "soak-log.csv";
    std::error_code ec;
    std::filesystem::remove(logPath, ec);

    Bench bench(plan.radio, image.path, logPath);
    if (plan.codeplugNeedsRestore) bench.radio.SetCodeplugByte(kDecidingAddress, 0x00);
    bench.line.SetDamage(plan.requestCorruptRate, plan.requestDropRate, random());
    if (m_hooks.rewriteRequest) bench.line.SetRewriter(m_hooks.rewriteRequest);

    RunChecker checker(bench, image.file, result);
    const RunEnd* end = checker.Run("faulted run");
    result.outcome = end != nullptr ? end->name : "unspecified";
    result.virtualTime = bench.clock.Now();
    if (end == nullptr || end->completed) return result;

    // The next run on a sound line: the same radio, still connected (a lost cable was plugged
    // back in after the run), its values and faults back to normal.
    bench.radio.Config() = SimRadioConfig{};
    bench.line.SetDamage(0.0, 0.0, 0);
    // The line has been idle since the failure: the radio forgets the bytes of a request that
    // a damaged line left unfinished.
    bench.radio.ForgetUnfinishedRequest();
    const bool recovery = bench.hub->RecoveryFlag() == 1;
    // A cable lost at the erase request (before the radio erased anything) or after the radio
    // had swapped in the new boot area (before the kit heard it) leaves the kit set for recovery
    // and a radio that needs none, out of its programming state since the cable was plugged
    // back in. Such a radio refuses the recovery run's first request: a failure, but no harm.
    const bool needsNone = bench.radio.State() == RadioState::Normal;
    (recovery ? result.recovery : result.followUp) = true;
    const RunEnd* next = checker.Run(recovery ? "recovery run" : "follow-up run");
    if (next != nullptr && !next->completed) {
        if (recovery && needsNone && std::string(next->name) == "Write Error #10") {
            result.recoveryRefused = true;
        } else {
            result.violations.push_back(std::string(recovery ? "recovery" : "follow-up") +
                                        " run without faults ended with " + next->name);
        }
    }
    result.virtualTime = bench.clock.Now();
    return result;
}

}  // namespace kestro::soak
