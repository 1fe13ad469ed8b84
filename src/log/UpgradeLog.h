#pragma once
// The comma-separated upgrade log: a header line, then one dated line per logged run. The file
// only grows; it is opened and closed for every line, so nothing stays open between runs, and
// each line goes in under a file lock, whole or not at all, so that many runs and kits can share
// one log and a line that could not be written never runs into the next one. Nothing is written
// before the first line: the header goes in with it, under the same lock.

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

namespace kestro {

inline constexpr const char* kLogHeader = " Date, Time, Serial Number, Pre FW Ver, CP, FW";

class CUpgradeLog {
public:
    void SetPath(std::filesystem::path path) { m_logPath = std::move(path); }
    const std::filesystem::path& Path() const { return m_logPath; }

    // Writes the header when no file exists yet. Creates a missing log folder first.
    // Returns false when the file could not be created or opened.
    bool WriteHeaderIfMissing();

    // Whether the log can take lines: creates a missing log folder and opens the file (created
    // empty when missing) without writing to it. False when something other than a file is in
    // its place or it cannot be opened.
    bool CanOpen();

    // With a result: "<date>, <time>,<fields><result>\r\n"; without: "<fields>\r\n". A missing
    // log folder is created first; a new or empty file gets the header before the line.
    // Returns false when the line could not be written (it is then lost), with `failure`, when
    // given, naming the log and the reason.
    bool AppendLogLine(const std::string& fields, const std::string& result,
                       std::string* failure = nullptr);

    // The local time used for the date and time columns; replaceable for tests.
    std::function<std::tm()> m_localTime = DefaultLocalTime;

    static std::tm DefaultLocalTime();
    // "%Y/%m/%d, %H:%M:%S,"
    static std::string FormatTimestamp(const std::tm& when);

private:
    std::filesystem::path m_logPath;
};

// A device text as it goes into a log column: NUL, CR, LF, comma, double quote, '<' and other
// control bytes are written as "<XX>" (two hexadecimal digits), so that every record stays one
// line with its columns and every placeholder in the log came from the kit; a text that starts
// with =, +, - or @ gets a leading apostrophe, so that a spreadsheet does not run it as a
// formula. Other printable text is unchanged.
std::string LogField(const std::string& deviceText);
// A radio's bytes (its serial number) as text: printable characters as they are, a backslash and
// any other byte as \xHH, so that two different serial numbers never read alike.
std::string ShownBytes(const std::string& bytes);

}  // namespace kestro
