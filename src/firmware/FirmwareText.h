#pragma once
// Turns the bytes of a firmware file into the 8-bit, upper-case text the record parser reads:
// 8-bit and UTF-16 files (either byte order, with or without byte-order mark) give the same text.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestro {

enum class TextEncoding { kEightBit, kUtf16Le, kUtf16Be };

// How the file's bytes are written. UTF-16 is recognised by its byte-order mark or, without
// one, by the zero high bytes of the ASCII characters a record file consists of.
TextEncoding DetectTextEncoding(std::string_view bytes);

// The text up to its first NUL character, as 8-bit characters, upper-cased. UTF-16 units above
// 0xFF have no 8-bit form and become '?'.
std::string DecodeFirmwareBytes(std::string_view bytes);
// The same, reusing the file's own buffer for an 8-bit text instead of copying it.
std::string DecodeFirmwareBytes(std::string&& bytes);

// Lines of a text as a multi-line edit box counts them: CR LF pairs plus one.
int FirmwareLineCount(std::string_view text);

}  // namespace kestro
