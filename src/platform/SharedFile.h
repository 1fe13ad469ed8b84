#pragma once
// Files that several threads and processes write at once (the upgrade log): a file is created
// whole with its first bytes or not at all, and each later piece is appended under an exclusive
// lock, so that writers of this kind never mix their pieces. A piece that cannot be written whole
// (a full disk, a file-size limit) is taken back out: under the lock the file is cut back to its
// size before the piece, so the next piece starts on a clean end. Two things are not covered: a
// reader that looks while a piece is going in may see part of it, and a piece appended without
// the lock (another program held it too long, see AppendLocked) cannot be taken back. Each back
// end (posix/, win32/) implements this with its own locks.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestro {

enum class CreateResult { Created, Exists, Failed };

// Puts a file holding exactly `firstBytes` at `path` unless something is already there. The file
// appears with its bytes in one step: no one can append to it before they are in.
CreateResult CreateFileWith(const std::filesystem::path& path, std::string_view firstBytes);

// The longest AppendLocked waits for another holder of the lock.
inline constexpr std::chrono::milliseconds kLockWait{1000};

// Appends `bytes` at the end of `path` (created empty when missing) while holding an exclusive
// lock on the file, which other writers of this kind wait for. A lock held longer than kLockWait
// by another program does not hold the caller up: the bytes are then appended without it (POSIX)
// or refused (Windows). False when the file cannot be opened or the bytes cannot all be written;
// `failure`, when given, then gets the system's reason. Bytes written in part under the lock are
// removed again; when that is impossible, `failure` says that the file may end in part of them.
bool AppendLocked(const std::filesystem::path& path, std::string_view bytes,
                  std::string* failure = nullptr);

// As AppendLocked; a file that is new or empty when the lock is taken gets `head` in front of
// the bytes, in the same write, so that of many writers only the first puts it there.
bool AppendLockedAfterHead(const std::filesystem::path& path, std::string_view head,
                           std::string_view bytes, std::string* failure = nullptr);

// Whether `path` can be opened for appending, created empty when missing; nothing is written.
// False with `failure`, when given, saying why.
bool CanOpenForAppend(const std::filesystem::path& path, std::string* failure = nullptr);

}  // namespace kestro
