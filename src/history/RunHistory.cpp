// The values a history row is made of: the stable names of run kinds, run ids, UTC time text.

#include "history/RunHistory.h"

#include <array>
#include <cstdio>
#include <random>

namespace kestro {

namespace {

struct KindName {
    RunKind kind;
    std::string_view name;
};

constexpr std::array<KindName, 10> kKindNames = {{
    {RunKind::Upgraded, "upgraded"},
    {RunKind::Confirmed, "confirmed"},
    {RunKind::NotConfirmedOldVersion, "not_confirmed_old_version"},
    {RunKind::NotConfirmedNoAnswer, "not_confirmed_no_answer"},
    {RunKind::NotConfirmedOtherSerial, "not_confirmed_other_serial"},
    {RunKind::StoppedBeforeErase, "stopped_before_erase"},
    {RunKind::NeedsRecovery, "needs_recovery"},
    {RunKind::FailedBeforeErase, "failed_before_erase"},
    {RunKind::FailedAfterProgramming, "failed_after_programming"},
    {RunKind::NotStarted, "not_started"},
}};

constexpr std::array<std::string_view, 3> kRestoredNames = {"unknown", "no", "yes"};

// The digits of text[at, at + count) as a number; -1 where one is no digit.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::string_view RunKindName(RunKind kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "?";
}

std::optional<RunKind> RunKindFromName(std::string_view name) {
    for (const KindName& entry : kKindNames) {
        if (entry.name == name) return entry.kind;
    }
    return std::nullopt;
}

std::string_view CodeplugRestoredName(CodeplugRestored value) {
    return kRestoredNames[static_cast<std::size_t>(value)];
}

std::optional<CodeplugRestored> CodeplugRestoredFromName(std::string_view name) {
    for (std::size_t i = 0; i < kRestoredNames.size(); ++i) {
        if (kRestoredNames[i] == name) return static_cast<CodeplugRestored>(i);
    }
    return std::nullopt;
}

std::string NewRunId() {
    std::random_device device;
    std::array<unsigned char, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = device();
        for (std::size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<unsigned char>(word >> (8 * k));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

std::string FormatUtc(UtcSeconds instant) {
    const auto day = std::chrono::floor<std::chrono::days>(instant);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{instant - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::optional<UtcSeconds> ParseUtc(std::string_view text) {
    if (text.size() != 10 && text.size() != 19 && text.size() != 20) return std::nullopt;
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    const int y = Digits(text, 0, 4), mo = Digits(text, 5, 2), d = Digits(text, 8, 2);
    if (y < 0 || mo < 0 || d < 0) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{y}, std::chrono::month{unsigned(mo)},
                                           std::chrono::day{unsigned(d)}};
    if (!date.ok()) return std::nullopt;
    UtcSeconds instant{std::chrono::sys_days{date}};
    if (text.size() == 10) return instant;
    if ((text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':' ||
        (text.size() == 20 && text[19] != 'Z')) {
        return std::nullopt;
    }
    const int h = Digits(text, 11, 2), mi = Digits(text, 14, 2), s = Digits(text, 17, 2);
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
    return instant + std::chrono::hours{h} + std::chrono::minutes{mi} + std::chrono::seconds{s};
}

}  // namespace kestro
