// Conversions from the platform's narrow encoding (UTF-8) to what Windows programs read.
#pragma once

#include <string>

namespace kp::platform {

// UTF-16 for a UTF-8 text; each byte of an invalid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(const std::string& utf8);

// The text in Windows-1252, the ANSI code page that Windows programs read 8-bit text
// in: characters it lacks become '?', as do invalid UTF-8 sequences.
std::string utf8ToWindows1252(const std::string& utf8);

} // namespace kp::platform
