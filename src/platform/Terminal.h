#pragma once
// Whether a standard stream is an interactive terminal (the command-line kit then draws its
// progress lines in place), and how wide it is. Each back end (posix/, win32/) implements them.

#include <cstdio>

namespace kestro {

bool IsTerminal(std::FILE* stream);

// The terminal's width in columns; 0 when the stream is no terminal or does not tell.
int TerminalColumns(std::FILE* stream);

}  // namespace kestro
