#include "platform/TextEncoding.h"

#include <cstdint>

namespace kp::platform {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The next code point of `text` at `at`, advancing `at`; kInvalid for a bad sequence
// (one byte consumed), overlong forms and surrogates included.
char32_t nextCodePoint(const std::string& text, std::size_t& at) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(at);
    int length = lead < 0x80           ? 1
                 : (lead >> 5) == 0x6  ? 2
                 : (lead >> 4) == 0xE  ? 3
                 : (lead >> 3) == 0x1E ? 4
                                       : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return kInvalid;
    }
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return kInvalid;
        }
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++at;
        return kInvalid;
    }
    at += length;
    return value;
}

// Windows-1252 bytes 0x80 to 0x9F; zero where the code page leaves the byte unassigned.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

std::u16string utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = nextCodePoint(utf8, at);
        if (c == kInvalid) {
            out.push_back(0xFFFD);
        } else if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string utf8ToWindows1252(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = nextCodePoint(utf8, at);
        char mapped = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            mapped = static_cast<char>(c);
        } else if (c != kInvalid) {
            for (int i = 0; i < 32; ++i) {
                if (kWindows1252High[i] != 0 && kWindows1252High[i] == c) {
                    mapped = static_cast<char>(0x80 + i);
                }
            }
        }
        out.push_back(mapped);
    }
    return out;
}

} // namespace kp::platform
