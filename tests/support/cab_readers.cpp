#include "cab_readers.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <list>
#include <sstream>
#include <sys/wait.h>

#include <mspack.h>

namespace kp::test {
namespace fs = std::filesystem;

namespace {
std::vector<std::uint8_t> slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
} // namespace

bool readWithMspack(const fs::path& first, std::vector<CabEntry>& entries, std::string& error,
                    bool wholeSet) {
    entries.clear();
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    std::vector<mscabd_cabinet*> cabs;
    // libmspack keeps the name pointers it was opened with until it closes.
    std::list<std::string> names;
    bool ok = true;
    mscabd_cabinet* cab = cabd->open(cabd, const_cast<char*>(first.c_str()));
    if (!cab) {
        error = "libmspack cannot open " + first.string() + " (error " +
                std::to_string(cabd->last_error(cabd)) + ")";
        mspack_destroy_cab_decompressor(cabd);
        return false;
    }
    cabs.push_back(cab);
    for (mscabd_cabinet* last = cab; ok && wholeSet && last->nextname;) {
        fs::path nextPath = first.parent_path() / last->nextname;
        names.push_back(nextPath.string());
        mscabd_cabinet* next = cabd->open(cabd, names.back().data());
        if (!next) {
            error = "libmspack cannot open " + nextPath.string();
            ok = false;
            break;
        }
        cabs.push_back(next);
        if (cabd->append(cabd, last, next) != MSPACK_ERR_OK) {
            error = "libmspack cannot join " + nextPath.string() + " (error " +
                    std::to_string(cabd->last_error(cabd)) + ")";
            ok = false;
        }
        last = next;
    }
    fs::path out = fs::temp_directory_path() / ("kp-mspack-" + std::to_string(::getpid()));
    for (mscabd_file* f = cab->files; ok && f; f = f->next) {
        if (cabd->extract(cabd, f, const_cast<char*>(out.c_str())) != MSPACK_ERR_OK) {
            error = std::string("libmspack cannot extract ") + f->filename + " (error " +
                    std::to_string(cabd->last_error(cabd)) + ")";
            ok = false;
            break;
        }
        CabEntry e;
        e.name = f->filename;
        e.data = slurp(out);
        e.attribs = f->attribs;
        e.year = f->date_y;
        e.month = f->date_m;
        e.day = f->date_d;
        e.hour = f->time_h;
        e.minute = f->time_m;
        e.second = f->time_s;
        entries.push_back(std::move(e));
    }
    std::error_code ec;
    fs::remove(out, ec);
    // Closing a cabinet closes every cabinet joined to it.
    std::vector<mscabd_cabinet*> roots;
    for (mscabd_cabinet* c : cabs) {
        if (c == cab || !c->prevcab) {
            roots.push_back(c);
        }
    }
    for (mscabd_cabinet* c : roots) {
        cabd->close(cabd, c);
    }
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}

int runCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        return -1;
    }
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) {
        output.append(buf.data(), n);
    }
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::vector<std::uint8_t>> extractWith(const std::string& tool,
                                                             const fs::path& first,
                                                             const fs::path& outDir,
                                                             std::string& output, int& status) {
    fs::remove_all(outDir);
    fs::create_directories(outDir);
    std::string cmd = tool == "7z"
                          ? "7zz x -y -o'" + outDir.string() + "' '" + first.string() + "'"
                          : "cabextract -q -d '" + outDir.string() + "' '" + first.string() + "'";
    status = runCommand(cmd, output);
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (auto& e : fs::recursive_directory_iterator(outDir)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), outDir).string()] = slurp(e.path());
        }
    }
    return files;
}

std::string checkWithAllDecoders(const fs::path& first, const Expected& expected) {
    std::ostringstream problems;
    std::vector<CabEntry> entries;
    std::string error;
    if (!readWithMspack(first, entries, error)) {
        problems << error << "\n";
    } else if (entries.size() != expected.size()) {
        problems << "libmspack lists " << entries.size() << " files, expected " << expected.size()
                 << "\n";
    } else {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].name != expected[i].first) {
                problems << "libmspack: file " << i << " is " << entries[i].name << ", expected "
                         << expected[i].first << "\n";
            } else if (entries[i].data != expected[i].second) {
                problems << "libmspack: content of " << entries[i].name << " differs\n";
            }
        }
    }
    // External tools write '\' as '/'; a name listed twice keeps its last content.
    std::map<std::string, std::vector<std::uint8_t>> want;
    for (auto& [name, data] : expected) {
        std::string path = name;
        for (auto& ch : path) {
            ch = ch == '\\' ? '/' : ch;
        }
        want[path] = data;
    }
    for (const char* tool : {"cabextract", "7z"}) {
        std::string output;
        int status = 0;
        fs::path out = first.parent_path() / (std::string("out-") + tool);
        auto got = extractWith(tool, first, out, output, status);
        if (status != 0) {
            problems << tool << " exited " << status << ": " << output << "\n";
        } else if (output.find("WARNING") != std::string::npos) {
            problems << tool << " warned: " << output << "\n";
        } else if (got != want) {
            problems << tool << " extracted " << got.size() << " files that differ from the "
                     << want.size() << " expected: " << output << "\n";
        }
        fs::remove_all(out);
    }
    return problems.str();
}

} // namespace kp::test
