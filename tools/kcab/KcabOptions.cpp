#include "KcabOptions.h"

#include <charconv>
#include <limits>

#include <sched.h>

namespace kp {

const char* const kKcabHelp = R"(Usage: kcab [options] -o OUT.cab PATH...

Packs files into a Microsoft Cabinet file.

Each PATH is made absolute before use, so the names stored in the cabinet never
depend on the current folder:
  a folder      its files; with -r, every file of its whole tree
  a mask        the files matching it in its folder, '*' and '?' as wildcards
                (quote it: 'src/*.c'); with -r, also in every folder beneath
  a file        that file

Options:
  -o, --output OUT.cab    the cabinet to write (required)
  -r, --recursive         take folders and masks with their whole trees
  -m, --method METHOD     none, mszip, or lzx[:15..21] (LZX window 2^N bytes,
                          32 KB to 2 MB); default lzx:21
      --folder-size BYTES start a new folder after this many compressed bytes,
                          1 to 2147483648; default 2097152 (2 MiB)
      --cabinet-size BYTES  largest size of one cabinet; a larger job becomes a
                          set named OUT.cab, OUT2.cab, OUT3.cab, ...
      --paths WHICH       names stored with each file:
                            relative  the path below the PATH's folder (default)
                            full      the whole path without its leading '/'
                            none      the file name alone
  -f, --force             replace existing cabinets (without it, an existing
                          OUT.cab is an error)
      --verify            after writing, read the cabinets back with an
                          independent decoder (libmspack) and compare every
                          file's name, size, date and bytes with its source;
                          any difference is an error naming the file
      --accept-name-loss  build a self-extractor even though some names would
                          not come back whole on Windows (see below)
  -j, --threads N         compress on N threads, 1 to 64; default: the cores
                          kcab may run on. The cabinets are byte for byte the
                          same for every N; MSZIP blocks are compressed in
                          parallel, and LZX searches ahead on a second thread
  -e, --effort N          how hard LZX works, 1 to 3; default 1. Higher levels
                          write smaller cabinets in more time (level 3 takes
                          about two thirds longer than 1); MSZIP is the same
                          at every level
  -q, --quiet             no progress and no summary; errors are still shown
  -h, --help              show this text
      --version           show kcab's version

BYTES may end in K, M or G (powers of 1024).

Stored names use '\' between folders, as the cabinet format requires. Names
beyond ASCII are stored as UTF-8 and flagged so; a name that is not valid UTF-8
(say Latin-1 bytes from an old archive) stops the run with an error naming the
file, its odd bytes shown as \xNN: rename it first, since an extractor would
give it another name. Names shown on the terminal have control characters
escaped the same way.

Before compressing, kcab checks every name as Windows will see it. A '\' inside
a Linux name cannot be stored (the cabinet would take it for a folder separator):
that stops the run with exit 2. Names Windows cannot create (trailing dots or
spaces; CON, PRN, AUX, NUL, COM1-9, LPT1-9 with or without an extension; the
characters < > : " | ? * and control characters), two names Windows takes for
one (letter case aside over Unicode, trailing dots and spaces dropped), and a
file whose name is another file's folder are each reported. For a plain cabinet
these are warnings, since it may be unpacked on Linux; a self-extractor (--sfx,
--sfx-dos) is always unpacked on Windows, so kcab stops with exit 2 before
compressing unless --accept-name-loss is given. Hidden folders (names starting
with '.') and symbolic links to folders are not entered; hidden files inside
entered folders are packed; FIFOs, sockets and devices are left out.

kcab shows a progress bar with the current file on a terminal, and one line per
file otherwise. Every failure is shown with its text and the system's message.
Any failure stops the run: no cabinet is left behind. Cabinets are written
under a hidden temporary name beside OUT.cab and take their names only when the
whole set is complete; with -f an existing cabinet stays until then, and the
members of a longer earlier set beyond the new one's last are removed. Only true
members are: OUT2.cab, OUT3.cab, ... as the earlier OUT.cab's header chains
them, each naming the one before it and carrying its set ID; any other file
under such a name is left alone (and packed, if it lies in a PATH). Two kcab
runs writing in one folder put their sets in place one after the other (the
later one waits), so a set is never a mix of two runs. Files the run writes
are never packed, even when OUT.cab lies in a folder being packed. Ctrl-C,
TERM, HUP, QUIT and a closed pipe stop the run at any point before the
renaming, leaving any earlier set as it was; during the renaming they wait
until the set is whole.

Files are dated with their last change in local time. With SOURCE_DATE_EPOCH
set (seconds since 1970, as in reproducible builds), dates later than it are
stored as it, all dates are taken in UTC, and the set ID is derived from the
PATHs instead of drawn at random: the same tree then gives the same bytes in
any time zone.

Exit status: 0 the cabinet was written; 1 it was not (the reason is shown);
2 the command line was wrong, a PATH does not exist or a name cannot be stored
(for a self-extractor: would not come back whole on Windows); 130 interrupted.
)";

const char* const kKcabVersion = "kcab (Korvath Pellix) " KP_VERSION;

namespace {

bool parseBytes(const std::string& text, std::uint64_t low, std::uint64_t high,
                std::uint64_t& value) {
    std::uint64_t number = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (failure != std::errc() || end == text.data()) {
        return false;
    }
    std::string suffix(end, text.data() + text.size());
    std::uint64_t scale = 1;
    if (suffix == "K" || suffix == "k") {
        scale = 1024;
    } else if (suffix == "M" || suffix == "m") {
        scale = 1024 * 1024;
    } else if (suffix == "G" || suffix == "g") {
        scale = 1024 * 1024 * 1024;
    } else if (!suffix.empty()) {
        return false;
    }
    if (number > std::numeric_limits<std::uint64_t>::max() / scale) {
        return false;
    }
    value = number * scale;
    return value >= low && value <= high;
}

bool parseMethod(const std::string& text, KcabOptions& options) {
    if (text == "none") {
        options.method = ctNone;
        return true;
    }
    if (text == "mszip") {
        options.method = ctMsZip;
        return true;
    }
    if (text == "lzx") {
        options.method = ctLzx;
        options.lzxWindow = kMaxLzxWindow;
        return true;
    }
    if (text.rfind("lzx:", 0) == 0) {
        int window = 0;
        const char* first = text.data() + 4;
        const char* last = text.data() + text.size();
        auto [end, failure] = std::from_chars(first, last, window);
        if (failure != std::errc() || end != last || !LzxWindowValid(window)) {
            return false;
        }
        options.method = ctLzx;
        options.lzxWindow = window;
        return true;
    }
    return false;
}

bool parseStoredPaths(const std::string& text, KcabOptions& options) {
    if (text == "none") {
        options.storedPaths = StoredPaths::None;
    } else if (text == "full") {
        options.storedPaths = StoredPaths::Full;
    } else if (text == "relative") {
        options.storedPaths = StoredPaths::Relative;
    } else {
        return false;
    }
    return true;
}

// A byte count option between `low` and `high`, both within what the builder's
// 32-bit properties can hold as a bit pattern.
bool parseSizeOption(const std::string& name, const std::string& value, std::uint64_t low,
                     std::uint64_t high, std::int32_t& size, std::string& error) {
    std::uint64_t bytes = 0;
    if (!parseBytes(value, low, high, bytes)) {
        error = name + " wants " + std::to_string(low) + " to " + std::to_string(high) +
                " bytes, not '" + value + "'";
        return false;
    }
    size = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes));
    return true;
}

// A switch that takes no value, alone (-r, --recursive) or in a group (-rfq).
bool applySwitch(const std::string& name, KcabOptions& options) {
    if (name == "-h" || name == "--help") {
        options.help = true;
    } else if (name == "--version") {
        options.version = true;
    } else if (name == "-r" || name == "--recursive") {
        options.recursive = true;
    } else if (name == "-f" || name == "--force") {
        options.replace = true;
    } else if (name == "-q" || name == "--quiet") {
        options.quiet = true;
    } else if (name == "--verify") {
        options.verify = true;
    } else if (name == "--accept-name-loss") {
        options.acceptNameLoss = true;
    } else {
        return false;
    }
    return true;
}

bool takesValue(const std::string& name) {
    return name == "-o" || name == "--output" || name == "-m" || name == "--method" ||
           name == "--folder-size" || name == "--cabinet-size" || name == "--paths" ||
           name == "-j" || name == "--threads" || name == "-e" || name == "--effort";
}

// An option that takes a value; `name` is one that takesValue() accepts.
bool applyValue(const std::string& name, const std::string& value, KcabOptions& options,
                std::string& error) {
    if (name == "-o" || name == "--output") {
        if (!options.output.empty()) {
            error = "-o given twice";
            return false;
        }
        options.output = value;
    } else if (name == "-m" || name == "--method") {
        if (!parseMethod(value, options)) {
            error = "unknown method '" + value +
                    "' (none, mszip, lzx or lzx:" + std::to_string(kMinLzxWindow) +
                    " to lzx:" + std::to_string(kMaxLzxWindow) + ")";
            return false;
        }
    } else if (name == "--folder-size") {
        // 2 GiB itself is allowed: the builder holds it as the int32 with the top bit set.
        return parseSizeOption(name, value, 1, 2147483648ULL, options.folderSize, error);
    } else if (name == "--cabinet-size") {
        return parseSizeOption(name, value, 1, 2147483647ULL, options.cabinetSize, error);
    } else if (name == "-j" || name == "--threads") {
        unsigned n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > 64) {
            error = name + " wants 1 to 64 threads, not '" + value + "'";
            return false;
        }
        options.threads = n;
    } else if (name == "-e" || name == "--effort") {
        int n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < kMinEffort ||
            n > kMaxEffort) {
            error = name + " wants " + std::to_string(kMinEffort) + " to " +
                    std::to_string(kMaxEffort) + ", not '" + value + "'";
            return false;
        }
        options.effort = n;
    } else if (name == "--paths") {
        if (!parseStoredPaths(value, options)) {
            error = "--paths wants none, full or relative, not '" + value + "'";
            return false;
        }
    }
    return true;
}

// An argument that starts with '-': the option's name and, when written into the
// same argument ("--name=value", "-oOUT"), its value.
struct OptionArgument {
    std::string name;
    std::string inlineValue;
    bool hasInline = false;
};

OptionArgument splitOption(const std::string& argument) {
    OptionArgument option{argument, "", false};
    if (argument.rfind("--", 0) == 0) {
        std::string::size_type equals = argument.find('=');
        if (equals != std::string::npos) {
            option = {argument.substr(0, equals), argument.substr(equals + 1), true};
        }
    } else if (argument.size() > 2 && takesValue(argument.substr(0, 2))) {
        option = {argument.substr(0, 2), argument.substr(2), true};
    }
    return option;
}

// Grouped single-letter switches such as -rfq.
bool applySwitchGroup(const std::string& argument, KcabOptions& options, std::string& error) {
    for (char flag : argument.substr(1)) {
        std::string name = {'-', flag};
        if (name == "-h" || !applySwitch(name, options)) {
            error = "unknown option '" + name + "' in '" + argument + "'";
            return false;
        }
    }
    return true;
}

// What every run needs once all arguments are read.
bool checkComplete(const KcabOptions& options, std::string& error) {
    if (options.help || options.version) {
        return true;
    }
    if (options.output.empty()) {
        error = "no output cabinet given (-o OUT.cab)";
        return false;
    }
    if (options.paths.empty()) {
        error = "nothing to pack: give at least one PATH";
        return false;
    }
    return true;
}

} // namespace

unsigned availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) {
        return 1;
    }
    int n = CPU_COUNT(&set);
    return n > 0 ? unsigned(n) : 1u;
}

bool parseKcabOptions(const std::vector<std::string>& arguments, KcabOptions& options,
                      std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            options.paths.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        OptionArgument option = splitOption(argument);
        if (!option.hasInline && argument.size() > 2 && argument[1] != '-') {
            if (!applySwitchGroup(argument, options, error)) {
                return false;
            }
            continue;
        }
        if (applySwitch(option.name, options)) {
            continue;
        }
        if (!takesValue(option.name)) {
            error = "unknown option '" + option.name + "'";
            return false;
        }
        std::string value = option.inlineValue;
        if (!option.hasInline) {
            if (i + 1 >= arguments.size()) {
                error = "option '" + option.name + "' needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (!applyValue(option.name, value, options, error)) {
            return false;
        }
    }
    return checkComplete(options, error);
}

} // namespace kp
