#pragma once
// What one row's run reports, carried to the UI thread: every report is posted, in order, to the
// station; the percent is only kept (the latest one), and the station takes it at its next
// repaint tick, so a run that moves its bar for every row costs the window one repaint per tick.

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runcore/RunObserver.h"
#include "ui/UiThreadBridge.h"

namespace kestro::station {

// One report, applied on the UI thread to the row it belongs to.
struct RowReport {
    enum class Kind { PortNamed, Started, Status, Serial, FirmwareBefore, ShowProgress, Message, Note, Guide, Records, HistoryNotWritten, Ended };
    explicit RowReport(Kind k, std::string t = {}) : kind(k), text(std::move(t)) {}
    Kind kind;
    std::string text;
    bool flag = false;  // ShowProgress: shown; Records: some records found
    RunGuidance guidance = RunGuidance::Other;
    RadioSummary summary;
};

struct PendingProgress {
    int percent = 0;
    std::string label;
    std::chrono::steady_clock::time_point at;
};

// What a row's notes say of the records of its port: the radios that earlier runs left without
// firmware there, and that Finish completes them.
std::string RememberedText(const RememberedRadios& remembered);

class RowObserver final : public IRunObserver {
  public:
    using Apply = std::function<void(int id, const RowReport& report)>;
    // `apply` runs on the UI thread, through `bridge`.
    RowObserver(int id, UiThreadBridge& bridge, Apply apply) : m_id(id), m_bridge(bridge), m_apply(std::move(apply)) {}

    // The latest percent not yet taken, if any. Any thread.
    std::optional<PendingProgress> TakeProgress();

    void PortNamed(const std::string& port) override { Post(RowReport(RowReport::Kind::PortNamed, port)); }
    void Started(const std::string& scenario) override { Post(RowReport(RowReport::Kind::Started, scenario)); }
    void Status(const std::string& text) override { Post(RowReport(RowReport::Kind::Status, text)); }
    void Serial(const std::string& serial) override { Post(RowReport(RowReport::Kind::Serial, serial)); }
    void FirmwareBefore(const std::string& version) override {
        Post(RowReport(RowReport::Kind::FirmwareBefore, version));
    }
    void ShowProgress(bool show) override;
    void Progress(int position, const std::string& label) override;
    void Message(const RunMessage& message) override { Post(RowReport(RowReport::Kind::Message, message.text)); }
    void Note(const std::string& text) override { Post(RowReport(RowReport::Kind::Note, text)); }
    void Guide(RunGuidance kind, const std::string& text) override;
    void RememberedRecovery(const RememberedRadios& remembered) override;
    void HistoryNotWritten(const std::string& reason) override {
        Post(RowReport(RowReport::Kind::HistoryNotWritten, reason));
    }
    void Ended(const RadioSummary& summary) override;

  private:
    void Post(RowReport report);

    int m_id;
    UiThreadBridge& m_bridge;
    Apply m_apply;
    std::mutex m_lock;
    std::optional<PendingProgress> m_progress;  // m_lock
};

}  // namespace kestro::station
