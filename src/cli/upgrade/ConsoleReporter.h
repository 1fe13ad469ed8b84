#pragma once
// The command-line kit's reporting: each status text as a line, each message box as one line
// with its title and icon, and the progress either as a live bar (on a terminal) or as one line
// per whole percent (in logs and pipes). Called from the worker thread and the port thread.

#include <cstdio>
#include <mutex>
#include <string>

#include "upgrade/Reporter.h"

namespace kestro::cli {

class ConsoleReporter final : public IReporter {
public:
    // `liveBar`: draw the bar in place with carriage returns (a terminal) instead of lines.
    ConsoleReporter(std::FILE* out, bool liveBar) : m_out(out), m_liveBar(liveBar) {}

    void SetStatusText(const std::string& text) override;
    void SetProgressText(const std::string& label) override;
    void SetProgress(int position) override;
    void ShowProgress(bool show) override;
    void MessageBox(const std::string& text, TitleKind title, Icon icon) override;

    // A line of the kit's own (hints, summaries), printed without disturbing the bar.
    void Note(const std::string& text);

    // A message box text on one line: each run of CR and LF becomes one blank.
    static std::string OneLine(const std::string& text);
    // "[#########...........]  45% Firmware Writing 45%" for a terminal of `width` columns.
    static std::string BarLine(int position, const std::string& label, int width);

private:
    void PrintLine(const std::string& line);  // m_lock held
    void DrawBar();                           // m_lock held
    void ClearBar();                          // m_lock held

    std::mutex m_lock;
    std::FILE* m_out;
    bool m_liveBar;
    bool m_visible = false;
    bool m_barDrawn = false;
    int m_position = 0;
    int m_lastPrinted = -1;
    std::string m_label;
    std::string m_drawnLabel;
};

}  // namespace kestro::cli
