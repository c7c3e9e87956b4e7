// This machine's own programs and text, more than a window of each, through the
// interface into one LZX folder, extracted by every decoder and compared byte
// for byte. Generated data misses what real files repeat.
#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

std::vector<std::uint8_t> slurp(const fs::path& p, std::size_t limit) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::uint8_t> v((std::istreambuf_iterator<char>(in)), {});
    v.resize(std::min(v.size(), limit));
    return v;
}

std::string stored(const std::string& folder, const fs::path& relative) {
    std::string name = folder + "\\" + relative.string();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Files under `root` in name order until `budget` bytes, each cut to what is left.
void take(const fs::path& root, const std::vector<fs::path>& candidates, const std::string& folder,
          std::size_t budget, Expected& files) {
    for (const fs::path& p : candidates) {
        if (budget == 0) {
            return;
        }
        auto bytes = slurp(p, budget);
        budget -= bytes.size();
        if (!bytes.empty()) {
            files.emplace_back(stored(folder, fs::relative(p, root)), std::move(bytes));
        }
    }
}

Expected realFiles(std::size_t perKind) {
    Expected files;
    std::vector<fs::path> programs;
    for (const char* p :
         {"/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/bin/bash", "/proc/self/exe"}) {
        if (fs::exists(p)) {
            programs.push_back(fs::canonical(p));
        }
    }
    take("/", programs, "bin", perKind, files);
    // Headers come with the compiler that built this test.
    std::vector<fs::path> headers;
    for (const auto& e : fs::recursive_directory_iterator("/usr/include")) {
        if (e.is_regular_file() && e.path().extension() == ".h") {
            headers.push_back(e.path());
        }
    }
    std::sort(headers.begin(), headers.end());
    take("/usr/include", headers, "include", perKind, files);
    return files;
}

class LzxRealData : public ::testing::TestWithParam<unsigned> {};

TEST_P(LzxRealData, ProgramsAndTextExtractByteForByte) {
    unsigned window = GetParam();
    std::size_t perKind = std::max<std::size_t>((std::size_t(1) << window) + 200000, 400000);
    Expected files = realFiles(perKind);
    std::size_t total = 0;
    for (const auto& f : files) {
        total += f.second.size();
    }
    ASSERT_GE(total, 2 * perKind - 1000) << "this machine lacks the programs or headers";

    FciClient client(scratchFor("lzx-real"));
    CCAB ccab = client.cabinet("real.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    Expected added;
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(client.addBytes(h, name, bytes, TCOMP(TCOMPfromLZXWindow(window)), added))
            << name << ": erfOper " << client.erf.erfOper;
    }
    ASSERT_TRUE(client.flushCabinet(h)) << "erfOper " << client.erf.erfOper;
    ASSERT_TRUE(FCIDestroy(h));
    EXPECT_EQ(checkWithAllDecoders(client.path("real.cab"), added), "");
}

INSTANTIATE_TEST_SUITE_P(Windows, LzxRealData, ::testing::Values(15u, 18u, 21u),
                         [](const auto& info) { return "w" + std::to_string(info.param); });

} // namespace
