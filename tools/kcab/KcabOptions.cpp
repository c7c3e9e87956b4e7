#include "KcabOptions.h"

#include <charconv>
#include <limits>

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
  -q, --quiet             no progress and no summary; errors are still shown
  -h, --help              show this text

BYTES may end in K, M or G (powers of 1024).

Stored names use '\' between folders, as the cabinet format requires. Names
beyond ASCII are stored as UTF-8 and flagged so. Hidden folders (names starting
with '.') and symbolic links to folders are not entered; hidden files inside
entered folders are packed; FIFOs, sockets and devices are left out.

kcab shows a progress bar with the current file on a terminal, and one line per
file otherwise. Every failure is shown with its text and the system's message.
Any failure stops the run: no cabinet is left behind.

Exit status: 0 the cabinet was written; 1 it was not (the reason is shown);
2 the command line was wrong or a PATH does not exist; 130 interrupted.
)";

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
        options.lzxWindow = 21;
        return true;
    }
    if (text.rfind("lzx:", 0) == 0) {
        int window = 0;
        const char* first = text.data() + 4;
        const char* last = text.data() + text.size();
        auto [end, failure] = std::from_chars(first, last, window);
        if (failure != std::errc() || end != last || window < 15 || window > 21) {
            return false;
        }
        options.method = ctLzx;
        options.lzxWindow = window;
        return true;
    }
    return false;
}

// Splits "--name=value" and finds the value of an option that takes one.
bool takeValue(const std::vector<std::string>& arguments, std::size_t& index,
               const std::string& inlineValue, bool hasInline, std::string& value) {
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (index + 1 >= arguments.size()) {
        return false;
    }
    value = arguments[++index];
    return true;
}

} // namespace

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
        std::string name = argument;
        std::string inlineValue;
        bool hasInline = false;
        if (argument.rfind("--", 0) == 0) {
            std::string::size_type equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                inlineValue = argument.substr(equals + 1);
                hasInline = true;
            }
        } else if (argument.size() > 2 && (argument[1] == 'o' || argument[1] == 'm')) {
            name = argument.substr(0, 2);
            inlineValue = argument.substr(2);
            hasInline = true;
        } else if (argument.size() > 2) {
            // Grouped switches such as -rfq.
            for (char flag : argument.substr(1)) {
                switch (flag) {
                case 'r':
                    options.recursive = true;
                    break;
                case 'f':
                    options.replace = true;
                    break;
                case 'q':
                    options.quiet = true;
                    break;
                default:
                    error = "unknown option '-" + std::string(1, flag) + "' in '" + argument + "'";
                    return false;
                }
            }
            continue;
        }

        std::string value;
        auto needValue = [&]() {
            if (!takeValue(arguments, i, inlineValue, hasInline, value)) {
                error = "option '" + name + "' needs a value";
                return false;
            }
            return true;
        };
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "-r" || name == "--recursive") {
            options.recursive = true;
        } else if (name == "-f" || name == "--force") {
            options.replace = true;
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "--verify") {
            options.verify = true;
        } else if (name == "-o" || name == "--output") {
            if (!needValue()) {
                return false;
            }
            options.output = value;
        } else if (name == "-m" || name == "--method") {
            if (!needValue()) {
                return false;
            }
            if (!parseMethod(value, options)) {
                error = "unknown method '" + value + "' (none, mszip, lzx or lzx:15 to lzx:21)";
                return false;
            }
        } else if (name == "--folder-size") {
            std::uint64_t bytes = 0;
            if (!needValue()) {
                return false;
            }
            if (!parseBytes(value, 1, 2147483648ULL, bytes)) {
                error = "--folder-size wants 1 to 2147483648 bytes, not '" + value + "'";
                return false;
            }
            options.folderSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes));
        } else if (name == "--cabinet-size") {
            std::uint64_t bytes = 0;
            if (!needValue()) {
                return false;
            }
            if (!parseBytes(value, 1, 2147483647ULL, bytes)) {
                error = "--cabinet-size wants 1 to 2147483647 bytes, not '" + value + "'";
                return false;
            }
            options.cabinetSize = static_cast<std::int32_t>(bytes);
        } else if (name == "--paths") {
            if (!needValue()) {
                return false;
            }
            if (value == "none") {
                options.storedPaths = StoredPaths::None;
            } else if (value == "full") {
                options.storedPaths = StoredPaths::Full;
            } else if (value == "relative") {
                options.storedPaths = StoredPaths::Relative;
            } else {
                error = "--paths wants none, full or relative, not '" + value + "'";
                return false;
            }
        } else {
            error = "unknown option '" + name + "'";
            return false;
        }
    }
    if (options.help) {
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
