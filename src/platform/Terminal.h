#pragma once
// Whether a standard stream is an interactive terminal (the command-line kit then draws its
// progress bar in place). Each back end (posix/, win32/) implements it.

#include <cstdio>

namespace kestro {

bool IsTerminal(std::FILE* stream);

}  // namespace kestro
