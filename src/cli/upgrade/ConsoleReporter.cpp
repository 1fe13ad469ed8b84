#include "cli/upgrade/ConsoleReporter.h"

#include <algorithm>

namespace kestro::cli {

namespace {
constexpr int kBarColumns = 30;
}

std::string ConsoleReporter::OneLine(const std::string& text) {
    std::string out;
    bool inBreak = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!inBreak && !out.empty() && out.back() != ' ') out += ' ';
            inBreak = true;
            continue;
        }
        inBreak = false;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string ConsoleReporter::BarLine(int position, const std::string& label, int width) {
    position = std::clamp(position, 0, 100);
    const int filled = position * kBarColumns / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarColumns - filled), '.') + "] ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", position);
    line += percent;
    if (!label.empty()) line += " " + label;
    if (width > 0 && static_cast<int>(line.size()) > width - 1) {
        line.resize(static_cast<std::size_t>(width - 1));
    }
    return line;
}

void ConsoleReporter::PrintLine(const std::string& line) {
    ClearBar();
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    if (m_visible) DrawBar();
    std::fflush(m_out);
}

void ConsoleReporter::DrawBar() {
    if (!m_liveBar) return;
    std::fputs(("\r" + BarLine(m_position, m_label, 80) + "\033[K").c_str(), m_out);
    m_barDrawn = true;
}

void ConsoleReporter::ClearBar() {
    if (m_barDrawn) std::fputs("\r\033[K", m_out);
    m_barDrawn = false;
}

void ConsoleReporter::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_lock);
    PrintLine(text);
}

void ConsoleReporter::SetProgressText(const std::string& label) {
    std::lock_guard lock(m_lock);
    m_label = label;
}

void ConsoleReporter::SetProgress(int position) {
    std::lock_guard lock(m_lock);
    if (position < 0 || position > 100) return;
    m_position = position;
    if (!m_visible) return;
    if (m_liveBar) {
        if (position == m_lastPrinted && m_label == m_drawnLabel) return;
        m_lastPrinted = position;
        m_drawnLabel = m_label;
        DrawBar();
        std::fflush(m_out);
    } else if (position != m_lastPrinted) {
        m_lastPrinted = position;
        PrintLine("progress " + std::to_string(position) + "%" +
                  (m_label.empty() ? std::string{} : " (" + m_label + ")"));
    }
}

void ConsoleReporter::ShowProgress(bool show) {
    std::lock_guard lock(m_lock);
    if (show == m_visible) return;
    m_visible = show;
    m_lastPrinted = -1;
    if (show) {
        DrawBar();
    } else {
        ClearBar();
    }
    std::fflush(m_out);
}

void ConsoleReporter::MessageBox(const std::string& text, TitleKind title, Icon icon) {
    std::lock_guard lock(m_lock);
    PrintLine(std::string("[") + TitleText(title) + "] " + IconName(icon) + ": " + OneLine(text));
}

void ConsoleReporter::Note(const std::string& text) {
    std::lock_guard lock(m_lock);
    PrintLine(text);
}

}  // namespace kestro::cli
