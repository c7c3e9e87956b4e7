#include "engine/WindowsNames.h"

#include "platform/FileReplace.h"
#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <string_view>

namespace kp {

namespace {

constexpr char kStoredSeparator = '\\';

std::vector<std::string> Components(const std::string& path, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = path.find(separator, start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string WithoutTrailingDotsAndSpaces(const std::string& name) {
    std::size_t end = name.find_last_not_of(". ");
    return end == std::string::npos ? std::string() : name.substr(0, end + 1);
}

bool IsDeviceName(const std::string& component) {
    // Windows looks at the name before its first dot, trailing spaces dropped, so
    // "nul.txt" and "COM1 .log" are devices too.
    std::string base = component.substr(0, component.find('.'));
    base = base.substr(0, base.find_last_not_of(' ') + 1);
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    });
    static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// The C library's case tables come with a UTF-8 locale; without one only ASCII folds.
locale_t UnicodeCType() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char32_t WindowsUpper(char32_t c) {
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 'A';
    }
    locale_t locale = UnicodeCType();
    if (c < 0x80 || c > 0xFFFF || locale == locale_t{}) {
        return c;
    }
    auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
    if (upper > 0xFFFF || upper < 0x80 ||
        static_cast<char32_t>(towlower_l(static_cast<wint_t>(upper), locale)) != c) {
        return c;
    }
    return upper;
}

// Appends the code point at text[i] upper-cased, advancing i; a byte that does not
// start a well-formed sequence is copied as it is.
void AppendFolded(const std::string& text, std::size_t& i, std::string& out) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
    if (length == 0 || i + length > text.size()) {
        out += text[i++];
        return;
    }
    char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : (lead & 0x0F);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            out += text[i++];
            return;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    c = WindowsUpper(c);
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    platform::FileIdentity first, second;
    return a == b ||
           (platform::identityOf(a, first) && platform::identityOf(b, second) && first == second);
}

std::string Joined(const std::vector<std::string>& parts, std::size_t count, char separator) {
    std::string joined;
    for (std::size_t k = 0; k < count; ++k) {
        joined += (k ? std::string(1, separator) : std::string()) + parts[k];
    }
    return joined;
}

} // namespace

std::string WindowsNameFault(const std::string& Component) {
    if (!Component.empty() && (Component.back() == '.' || Component.back() == ' ')) {
        return "ends with a dot or a space, which Windows drops";
    }
    if (IsDeviceName(Component)) {
        return "is a device name on Windows";
    }
    for (unsigned char c : Component) {
        if (c < 0x20 ||
            std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos) {
            return "holds a character Windows does not allow in names (< > : \" | ? * or a "
                   "control character)";
        }
    }
    return {};
}

std::string WindowsComparisonKey(const std::string& StoredName) {
    std::string key;
    std::vector<std::string> parts = Components(StoredName, kStoredSeparator);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k) {
            key += kStoredSeparator;
        }
        std::string part = WithoutTrailingDotsAndSpaces(parts[k]);
        for (std::size_t i = 0; i < part.size();) {
            AppendFolded(part, i, key);
        }
    }
    return key;
}

void TWindowsNameCheck::Add(const std::string& FileName, const std::string& StoredPath) {
    std::vector<std::string> parts = Components(StoredPath, platform::kPathSeparator);
    std::string stored = Joined(parts, parts.size(), kStoredSeparator);
    for (const std::string& part : parts) {
        if (part.find(kStoredSeparator) != std::string::npos) {
            NameReports.push_back({TWindowsNameIssue::Backslash, FileName, stored, {}, {}, {}});
            return; // never stored, so it clashes with nothing
        }
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        std::string fault = WindowsNameFault(parts[k]);
        if (fault.empty()) {
            continue;
        }
        bool isFolder = k + 1 < parts.size();
        std::string name = Joined(parts, k + 1, kStoredSeparator);
        if (isFolder) {
            if (std::find(FaultyFolders.begin(), FaultyFolders.end(), name) !=
                FaultyFolders.end()) {
                break;
            }
            FaultyFolders.push_back(name);
        }
        NameReports.push_back({TWindowsNameIssue::NotCreatable,
                               FileName,
                               stored,
                               {},
                               {},
                               (isFolder ? "its folder \"" : "\"") + parts[k] + "\" " + fault});
        break;
    }
    Entries.push_back({FileName, stored, WindowsComparisonKey(stored)});
}

std::vector<TWindowsNameReport> TWindowsNameCheck::Reports() const {
    std::vector<TWindowsNameReport> reports = NameReports;
    std::unordered_map<std::string, std::size_t> firstWithKey;
    std::unordered_map<std::string, std::size_t> firstWithFolder;
    for (std::size_t i = 0; i < Entries.size(); ++i) {
        const std::string& key = Entries[i].Key;
        firstWithKey.try_emplace(key, i);
        for (std::size_t at = key.find(kStoredSeparator); at != std::string::npos;
             at = key.find(kStoredSeparator, at + 1)) {
            firstWithFolder.try_emplace(key.substr(0, at), i);
        }
    }
    for (std::size_t i = 0; i < Entries.size(); ++i) {
        const Entry& entry = Entries[i];
        const Entry& first = Entries[firstWithKey.at(entry.Key)];
        // The same file reached twice under one name comes back as it was.
        if (&first != &entry && !SameFile(first.FileName, entry.FileName)) {
            reports.push_back({TWindowsNameIssue::SameName,
                               entry.FileName,
                               entry.StoredName,
                               first.FileName,
                               first.StoredName,
                               {}});
        }
        if (auto folder = firstWithFolder.find(entry.Key); folder != firstWithFolder.end()) {
            const Entry& other = Entries[folder->second];
            reports.push_back({TWindowsNameIssue::FileIsFolder,
                               entry.FileName,
                               entry.StoredName,
                               other.FileName,
                               other.StoredName,
                               {}});
        }
    }
    return reports;
}

void TWindowsNameCheck::Clear() {
    Entries.clear();
    NameReports.clear();
    FaultyFolders.clear();
}

} // namespace kp
