#pragma once
// Files that several threads and processes write at once (the upgrade log): a file is created
// whole with its first bytes or not at all, and each later piece is appended in one locked
// write, so that no reader ever sees a piece torn or two pieces mixed. Each back end (posix/,
// win32/) implements it with its own locks.

#include <chrono>
#include <filesystem>
#include <string_view>

namespace kestro {

enum class CreateResult { Created, Exists, Failed };

// Puts a file holding exactly `firstBytes` at `path` unless something is already there. The file
// appears with its bytes in one step: no one can append to it before they are in.
CreateResult CreateFileWith(const std::filesystem::path& path, std::string_view firstBytes);

// The longest AppendLocked waits for another holder of the lock.
inline constexpr std::chrono::milliseconds kLockWait{1000};

// Appends `bytes` at the end of `path` (created empty when missing) in one write, while holding
// an exclusive lock on the file, which other writers of this kind wait for. A lock held longer
// than kLockWait by another program does not hold the caller up: the bytes are then appended
// without it. False when the file cannot be opened or written.
bool AppendLocked(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kestro
