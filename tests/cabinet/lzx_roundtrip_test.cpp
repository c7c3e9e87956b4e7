// LZX cabinets for every window, written through the interface and extracted
// by libmspack, cabextract and 7-Zip.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <unistd.h>

#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Up to n bytes of a real x86-64 program: our own test executable.
std::vector<std::uint8_t> machineCode(std::size_t n) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    std::vector<std::uint8_t> v((std::istreambuf_iterator<char>(in)), {});
    if (v.size() > n) {
        v.resize(n);
    }
    return v;
}

// Random bytes where every fifth byte starts what looks like a call.
std::vector<std::uint8_t> callHeavy(std::size_t n, std::uint32_t seed) {
    auto v = randomBytes(n, seed);
    for (std::size_t i = 0; i < n; i += 5) {
        v[i] = 0xE8;
    }
    return v;
}

class LzxWindow : public ::testing::TestWithParam<unsigned> {
protected:
    FciClient client{scratchFor("lzx")};
    Expected expected;
    TCOMP comp() const { return TCOMP(TCOMPfromLZXWindow(GetParam())); }

    void add(HFCI h, const std::string& stored, const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(client.addBytes(h, stored, bytes, comp(), expected))
            << stored << ": erfOper " << client.erf.erfOper;
    }

    void finish(HFCI h, const std::string& name) {
        ASSERT_TRUE(client.flushCabinet(h)) << "erfOper " << client.erf.erfOper;
        ASSERT_TRUE(FCIDestroy(h));
        EXPECT_EQ(checkWithAllDecoders(client.path(name), expected), "");
        EXPECT_EQ(FciClient::liveAllocations(), 0);
    }
};

TEST_P(LzxWindow, EdgeSizesAndContents) {
    CCAB ccab = client.cabinet("edges.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "empty", {});
    add(h, "one", {0xE8});
    add(h, "frame.txt", textBytes(32768, 1));
    add(h, "frame-plus-one.txt", textBytes(32769, 2));
    add(h, "program", machineCode(150000));
    add(h, "calls.bin", callHeavy(70001, 3));
    add(h, "run", std::vector<std::uint8_t>(200000, 'a'));
    add(h, "random.bin", randomBytes(100000, 4));
    add(h, "text-after-random.txt", textBytes(40000, 5));
    // A folder that ends in an odd, incompressible last frame: no decoder
    // doubts a compressed block there, unlike an uncompressed one.
    ASSERT_TRUE(client.flushFolder(h));
    add(h, "random-odd.bin", randomBytes(3 * 32768 + 1, 6));
    finish(h, "edges.cab");
}

// Only the first frame's bits carry the stream header; a folder of eleven bytes
// or less is never translated. Both ends of that, alone in their folders.
TEST_P(LzxWindow, TinyFoldersEachStartAFreshStream) {
    CCAB ccab = client.cabinet("tiny.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    std::vector<std::uint8_t> call = {0xE8, 1, 0, 0, 0, 0xE8, 0xFF, 0xFF, 0xFF, 0xFF, 0x90};
    for (std::size_t n : {1, 10, 11, 15}) {
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = call[i % call.size()];
        }
        add(h, "tiny" + std::to_string(n), bytes);
        ASSERT_TRUE(client.flushFolder(h));
    }
    finish(h, "tiny.cab");
}

// Matches reach back across (almost) the whole window; a longer distance would
// be outside what the decoder holds.
TEST_P(LzxWindow, DataLongerThanTheWindow) {
    std::size_t window = std::size_t(1) << GetParam();
    auto body = randomBytes(window - 100, 6);
    auto again = std::vector<std::uint8_t>(
        body.begin(), body.begin() + long(std::min<std::size_t>(40000, body.size() / 2)));
    CCAB ccab = client.cabinet("long.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "long.bin", concat({body, again, textBytes(30000, 7), body}));
    finish(h, "long.cab");
}

// Stretches that repeat, slightly changed, from exactly the window minus three
// bytes back (the format's limit, which 7-Zip misreads) and minus four.
TEST_P(LzxWindow, RepeatsFromTheFarthestReachExtractEverywhere) {
    std::size_t window = std::size_t(1) << GetParam();
    auto bytes = randomBytes(window - 3, 9);
    auto noise = randomBytes(40000, 10);
    for (std::size_t distance : {window - 3, window - 4}) {
        for (std::size_t i = 0; i < 20000; ++i) {
            std::uint8_t b = bytes[bytes.size() - distance];
            bytes.push_back(noise[i] % 31 == 0 ? noise[i] : b);
        }
    }
    CCAB ccab = client.cabinet("far.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "far.bin", bytes);
    finish(h, "far.cab");
}

TEST_P(LzxWindow, ManyFilesAndSeveralFolders) {
    CCAB ccab = client.cabinet("many.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 150; ++i) {
        add(h, "d\\f" + std::to_string(i) + ".txt",
            textBytes(std::size_t(i * 131 % 2500), std::uint32_t(i)));
        if (i % 50 == 49) {
            ASSERT_TRUE(client.flushFolder(h));
        }
    }
    finish(h, "many.cab");
}

TEST_P(LzxWindow, FilesSpanningASetOfCabinets) {
    CCAB ccab = client.cabinet("set1.cab", 60000);
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "a.txt", textBytes(150000, 8));
    add(h, "b.bin", machineCode(90000));
    add(h, "c.bin", randomBytes(50000, 9));
    finish(h, "set1.cab");
    EXPECT_TRUE(fs::exists(client.path("set2.cab"))) << "the files must not fit one cabinet";
}

INSTANTIATE_TEST_SUITE_P(Windows, LzxWindow, ::testing::Range(15u, 22u),
                         [](const auto& info) { return "w" + std::to_string(info.param); });

TEST(LzxTcomp, WindowsOutsideFifteenToTwentyOneAreRefused) {
    FciClient client(fs::temp_directory_path() / ("kp-lzx-tcomp-" + std::to_string(::getpid())));
    auto src = client.writeFile("src", textBytes(1000, 1));
    for (unsigned w : {0u, 14u, 22u, 31u}) {
        CCAB ccab = client.cabinet("bad.cab");
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        EXPECT_FALSE(client.add(h, src, "x", TCOMP(TCOMPfromLZXWindow(w)))) << w;
        EXPECT_EQ(client.erf.erfOper, FCIERR_BAD_COMPR_TYPE) << w;
        FCIDestroy(h);
    }
}

// LZX holds frames back, so the reports come later than with MSZIP; there is
// still one per frame, and an abort fails only the file it came in.
class LzxStatus : public ::testing::Test {
protected:
    FciClient client{scratchFor("lzx")};
    std::string src = client.writeFile("src", textBytes(300000, 3));
    TCOMP comp = TCOMP(TCOMPfromLZXWindow(18));
};

TEST_F(LzxStatus, EveryFrameIsReportedOnce) {
    CCAB ccab = client.cabinet("ok.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(client.add(h, src, "a.txt", comp));
    ASSERT_TRUE(client.flushCabinet(h));
    ASSERT_TRUE(FCIDestroy(h));
    std::uint64_t reported = 0;
    int reports = 0;
    for (const auto& s : client.statuses) {
        if (s.type == statusFile) {
            reported += s.cb2;
            ++reports;
        }
    }
    EXPECT_EQ(reported, 300000u);
    EXPECT_EQ(reports, 10);
}

// The aborted file's frames stay in the folder's stream, unreferenced; the
// stream goes on with the next file.
TEST_F(LzxStatus, AnAbortFailsTheFileAndTheFolderGoesOn) {
    client.abortAtStatus = 1;
    CCAB ccab = client.cabinet("aborted.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(client.add(h, src, "a.txt", comp));
    EXPECT_EQ(client.erf.erfOper, FCIERR_USER_ABORT);
    auto after = concat({machineCode(50000), textBytes(20000, 4)});
    auto src2 = client.writeFile("src2", after);
    ASSERT_TRUE(client.add(h, src2, "b.bin", comp));
    ASSERT_TRUE(client.flushCabinet(h));
    ASSERT_TRUE(FCIDestroy(h));
    EXPECT_EQ(client.openHandles(), 0);
    EXPECT_EQ(FciClient::liveAllocations(), 0);
    EXPECT_EQ(checkWithAllDecoders(client.path("aborted.cab"), {{"b.bin", after}}), "");
}

} // namespace
