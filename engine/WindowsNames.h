// What a Windows extractor makes of the names a run stores. We pack on Linux for
// people who unpack on Windows, and the two disagree about names: a backslash is a
// cabinet's folder separator, Windows drops trailing dots and spaces, keeps device
// names for devices, refuses a few characters, and takes names that differ only in
// letter case (over Unicode, by its own upper-case table) for one. This is the one
// place that decides; the builder applies it to every name before compressing starts.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace kp {

enum class TWindowsNameIssue {
    Backslash,    // a '\' inside a name would become a folder separator: never stored
    NotCreatable, // Windows cannot create it as named; Reason says why
    SameName,     // Windows takes it for OtherFile's name: extracting keeps one of them
    FileIsFolder, // the file's name is a folder on OtherFile's path: one cannot be made
};

struct TWindowsNameReport {
    TWindowsNameIssue Issue = TWindowsNameIssue::NotCreatable;
    std::string FileName;   // the source path
    std::string StoredName; // as the cabinet stores it, '\'-separated
    std::string OtherFile;  // SameName and FileIsFolder: the other entry's source path
    std::string OtherStoredName;
    std::string Reason; // NotCreatable: which name, and why, in a few words
};

// Why Windows cannot create a file or folder of this one name, or empty when it can.
std::string WindowsNameFault(const std::string& Component);

// The stored name (components separated by '\') as Windows compares names: each
// component without its trailing dots and spaces, every UTF-16 unit upper-cased by
// Windows' table. That table maps a letter only where the mapping goes both ways,
// so 'ǆ' meets 'Ǆ' but title-case 'ǅ', 'ı', 'ſ', 'ς' and 'µ' stay themselves, and
// it never maps to more than one unit ('ß' is not "SS"); letters beyond the
// Basic Multilingual Plane are never folded. Bytes that are not UTF-8 are kept.
std::string WindowsComparisonKey(const std::string& StoredName);

// Collects a run's stored names and tells which of them do not come back whole.
class TWindowsNameCheck {
public:
    // StoredPath is the stored name before its separators become '\' (so a '\' in it
    // is part of a name). Entries are reported in the order they were added.
    void Add(const std::string& FileName, const std::string& StoredPath);
    std::vector<TWindowsNameReport> Reports() const;
    void Clear();

private:
    struct Entry {
        std::string FileName;
        std::string StoredName;
        std::string Key;
    };
    std::vector<Entry> Entries;
    std::vector<TWindowsNameReport> NameReports; // Backslash and NotCreatable, as found
    std::vector<std::string> FaultyFolders;      // reported once, not for each file inside
};

} // namespace kp
