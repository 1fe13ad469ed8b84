#pragma once
// Small files that must survive a crash or a power loss the moment a call returns (the recovery
// records): written to a private temporary file in the same folder, flushed to the disk, renamed
// over the old file and the folder flushed, so that the name holds either the old bytes or the
// new ones, never an empty or partial file. Each back end (posix/, win32/) implements it.

#include <filesystem>
#include <string>
#include <string_view>

namespace kestro {

// Puts exactly `bytes` at `path` durably, creating the folder when it is missing. False with
// `error` set ("cannot create a file in /x: Permission denied") when it could not.
bool WriteFileDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error);

// Removes `path` and flushes its folder. True when the file is gone (or was never there).
bool RemoveFileDurably(const std::filesystem::path& path, std::string& error);

// Shared by the back ends: the folder that holds `path` ("." for a bare name), and that folder
// created when missing (false with `error` naming it and the reason); the kit's state folder is
// made ready by PrepareStateFolder (Paths.h) instead.
std::filesystem::path FolderOf(const std::filesystem::path& path);
bool CreateFolderOf(const std::filesystem::path& path, std::string& error);

}  // namespace kestro
