#include "ui/station/RowObserver.h"

namespace kestro::station {

std::string RememberedText(const RememberedRadios& remembered) {
    return "An upgrade of " + remembered.described + " on this port stopped between erase and boot swap (the last on " +
           remembered.newestSince + "): Finish completes it.";
}

std::optional<PendingProgress> RowObserver::TakeProgress() {
    std::lock_guard lock(m_lock);
    return std::exchange(m_progress, std::nullopt);
}

void RowObserver::Post(RowReport report) {
    m_bridge.Post([apply = m_apply, id = m_id, report = std::move(report)] { apply(id, report); });
}

void RowObserver::ShowProgress(bool show) {
    {
        // A percent of the stretch before must not show in the next one.
        std::lock_guard lock(m_lock);
        m_progress.reset();
    }
    RowReport report{RowReport::Kind::ShowProgress};
    report.flag = show;
    Post(std::move(report));
}

void RowObserver::Progress(int position, const std::string& label) {
    std::lock_guard lock(m_lock);
    m_progress = PendingProgress{position, label, std::chrono::steady_clock::now()};
}

void RowObserver::Guide(RunGuidance kind, const std::string& text) {
    RowReport report{RowReport::Kind::Guide, text};
    report.guidance = kind;
    Post(std::move(report));
}

void RowObserver::RememberedRecovery(const RememberedRadios& remembered) {
    RowReport report{RowReport::Kind::Records};
    report.flag = remembered.Any();
    if (remembered.Any()) report.text = RememberedText(remembered);
    if (!remembered.skipped.empty()) report.text += (report.text.empty() ? "" : "\n") + remembered.skipped;
    Post(std::move(report));
}

void RowObserver::Ended(const RadioSummary& summary) {
    RowReport report{RowReport::Kind::Ended};
    report.summary = summary;
    Post(std::move(report));
}

}  // namespace kestro::station
