// Worker threads: the cabinets must not depend on how many there are, and the
// client must never see one of them.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <utime.h>

#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

struct Scenario {
    const char* name;
    ULONG cabinetLimit;
    ULONG threshold;
    // Adds the files; the client's addBytes records them as expected.
    std::function<void(FciClient&, HFCI, Expected&)> addFiles;
};

struct Outcome {
    std::map<std::string, Bytes> cabinets;
    std::vector<StatusReport> statuses;
    std::vector<std::string> placed;
    Expected expected;
};

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Outcome run(const Scenario& s, unsigned threads) {
    Outcome out;
    FciClient client{scratchFor(std::string("threads-") + s.name)};
    client.threads = threads;
    client.nextCabinetPattern = "part%d.cab";
    CCAB ccab = client.cabinet("part1.cab", s.cabinetLimit, s.threshold);
    HFCI h = client.create(ccab);
    EXPECT_NE(h, nullptr);
    if (!h) {
        return out;
    }
    s.addFiles(client, h, out.expected);
    EXPECT_TRUE(client.flushCabinet(h)) << s.name << ": erfOper " << client.erf.erfOper;
    EXPECT_TRUE(FCIDestroy(h));
    client.expectNothingLeft();
    for (const auto& entry : fs::directory_iterator(client.path(""))) {
        if (entry.path().extension() == ".cab") {
            out.cabinets[entry.path().filename().string()] = readAll(entry.path());
        }
    }
    out.statuses = client.statuses;
    out.placed = client.placed;
    if (threads == 2) {
        EXPECT_EQ(checkWithAllDecoders(client.path("part1.cab"), out.expected), "") << s.name;
    }
    return out;
}

// Sources dated alike in every run, so that only the compression can tell runs apart.
void addOrFail(FciClient& client, HFCI h, const std::string& stored, const Bytes& bytes, TCOMP comp,
               Expected& expected) {
    fs::path source = client.writeFile("src/" + std::to_string(expected.size()), bytes);
    struct utimbuf fixed {
        1600000000, 1600000000
    };
    ASSERT_EQ(::utime(source.c_str(), &fixed), 0);
    ASSERT_TRUE(client.add(h, source, stored, comp))
        << stored << ": erfOper " << client.erf.erfOper;
    expected.emplace_back(stored, bytes);
}

// Text and noise in sizes around the frame size, so that files end inside frames,
// on their edges and span several.
Bytes mixed(std::size_t n, std::uint32_t seed) {
    return seed % 3 == 0 ? randomBytes(n, seed) : textBytes(n, seed);
}

const Scenario kScenarios[] = {
    {"many-small-folders", 0x7FFFFFFF, 30000,
     [](FciClient& c, HFCI h, Expected& e) {
         for (std::uint32_t i = 0; i < 90; ++i) {
             std::size_t size = (i * 7919u) % 70000u + (i % 5 == 0 ? 0 : 1);
             addOrFail(c, h, "small\\" + std::to_string(i), mixed(size, i), tcompTYPE_MSZIP, e);
         }
     }},
    {"one-large-folder", 0x7FFFFFFF, 0x7FFFFFFF,
     [](FciClient& c, HFCI h, Expected& e) {
         addOrFail(c, h, "text.txt", textBytes(1500000, 7), tcompTYPE_MSZIP, e);
         addOrFail(c, h, "noise.bin", randomBytes(300001, 8), tcompTYPE_MSZIP, e);
         addOrFail(c, h, "empty", {}, tcompTYPE_MSZIP, e);
         addOrFail(c, h, "tail.txt", textBytes(32768, 9), tcompTYPE_MSZIP, e);
     }},
    {"set", 60000, 20000,
     [](FciClient& c, HFCI h, Expected& e) {
         addOrFail(c, h, "a.txt", textBytes(250000, 11), tcompTYPE_MSZIP, e);
         addOrFail(c, h, "b.bin", randomBytes(150000, 12), tcompTYPE_MSZIP, e);
         for (std::uint32_t i = 0; i < 30; ++i) {
             addOrFail(c, h, "t\\" + std::to_string(i), mixed(3000 + i * 997, 100 + i),
                       i % 7 == 6 ? tcompTYPE_NONE : tcompTYPE_MSZIP, e);
         }
         addOrFail(c, h, "c.txt", textBytes(400000, 13), tcompTYPE_MSZIP, e);
     }},
    {"every-method", 0x7FFFFFFF, 0x7FFFFFFF,
     [](FciClient& c, HFCI h, Expected& e) {
         std::vector<TCOMP> methods{tcompTYPE_NONE, tcompTYPE_MSZIP};
         for (unsigned w = 15; w <= 21; ++w) {
             methods.push_back(TCOMP(TCOMPfromLZXWindow(w)));
         }
         std::uint32_t seed = 200;
         for (TCOMP m : methods) {
             for (int k = 0; k < 3; ++k, ++seed) {
                 addOrFail(c, h, "m" + std::to_string(m) + "\\" + std::to_string(k),
                           mixed(20000 + seed * 331 % 90000, seed), m, e);
             }
             // Back to MSZIP between methods: a pooled folder opens after every one.
             addOrFail(c, h, "z" + std::to_string(m), textBytes(70000, seed), tcompTYPE_MSZIP, e);
         }
     }},
    // LZX folders hold frames back to search ahead; blocks reach the folder later
    // than on one thread, but every decision must come out the same.
    {"lzx-many-folders", 0x7FFFFFFF, 100000,
     [](FciClient& c, HFCI h, Expected& e) {
         for (std::uint32_t i = 0; i < 24; ++i) {
             std::size_t size = (i * 79193u) % 300000u + (i % 5 == 0 ? 0 : 1);
             TCOMP m = TCOMP(TCOMPfromLZXWindow(i / 12 ? 16 : 21));
             addOrFail(c, h, "lzx\\" + std::to_string(i), mixed(size, 300 + i), m, e);
         }
     }},
    {"lzx-one-large-folder", 0x7FFFFFFF, 0x7FFFFFFF,
     [](FciClient& c, HFCI h, Expected& e) {
         const TCOMP m = TCOMP(TCOMPfromLZXWindow(21));
         addOrFail(c, h, "text.txt", textBytes(1100000, 17), m, e);
         addOrFail(c, h, "noise.bin", randomBytes(200001, 18), m, e);
         addOrFail(c, h, "empty", {}, m, e);
         addOrFail(c, h, "four-chunks", textBytes(4 * 131072, 19), m, e);
     }},
    {"lzx-set", 90000, 40000,
     [](FciClient& c, HFCI h, Expected& e) {
         const TCOMP m = TCOMP(TCOMPfromLZXWindow(18));
         addOrFail(c, h, "a.txt", textBytes(450000, 21), m, e);
         addOrFail(c, h, "b.bin", randomBytes(120000, 22), m, e);
         // Many small files with long names: a block held back while a dozen of them
         // are listed must still see the cabinet's room as it stood when it fell due.
         const std::string longName(150, 'n');
         for (std::uint32_t i = 0; i < 80; ++i) {
             addOrFail(c, h, "t\\" + longName + std::to_string(i), mixed(2000 + i * 97, 400 + i), m,
                       e);
         }
     }},
};

class ThreadCount : public ::testing::TestWithParam<Scenario> {};

TEST_P(ThreadCount, CabinetsStatusesAndPlacementsAreTheSameForEveryCount) {
    const Scenario& s = GetParam();
    Outcome one = run(s, 1);
    ASSERT_FALSE(one.cabinets.empty());
    for (unsigned threads : {2u, 3u, 8u}) {
        Outcome many = run(s, threads);
        ASSERT_EQ(many.cabinets.size(), one.cabinets.size()) << threads << " threads";
        for (const auto& [name, bytes] : one.cabinets) {
            EXPECT_TRUE(many.cabinets[name] == bytes) << name << " differs at " << threads;
        }
        ASSERT_EQ(many.statuses.size(), one.statuses.size()) << threads << " threads";
        for (std::size_t i = 0; i < one.statuses.size(); ++i) {
            EXPECT_EQ(many.statuses[i].type, one.statuses[i].type) << i;
            EXPECT_EQ(many.statuses[i].cb1, one.statuses[i].cb1) << i;
            EXPECT_EQ(many.statuses[i].cb2, one.statuses[i].cb2) << i;
        }
        EXPECT_EQ(many.placed, one.placed) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, ThreadCount, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST(ThreadCount, ZeroIsRefusedAndANullContextToo) {
    EXPECT_FALSE(KPFCISetThreadCount(nullptr, 2));
    FciClient client{scratchFor("threads-zero")};
    CCAB ccab = client.cabinet("z.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(KPFCISetThreadCount(h, 0));
    EXPECT_TRUE(KPFCISetThreadCount(h, 1000)); // taken as the most there may be
    EXPECT_TRUE(FCIDestroy(h));
}

TEST(Effort, LevelsOutOfRangeAndANullContextAreRefused) {
    EXPECT_FALSE(KPFCISetEffort(nullptr, 1));
    FciClient client{scratchFor("effort-range")};
    CCAB ccab = client.cabinet("e.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(KPFCISetEffort(h, 0));
    EXPECT_FALSE(KPFCISetEffort(h, KPFCI_MAX_EFFORT + 1));
    for (UINT effort = 1; effort <= KPFCI_MAX_EFFORT; ++effort) {
        EXPECT_TRUE(KPFCISetEffort(h, effort));
    }
    EXPECT_TRUE(FCIDestroy(h));
}

// An abort answered while workers hold frames: the call fails with it, no status
// report follows the one that answered it, and destroying the context leaves nothing.
// An LZX folder reports a chunk's four blocks together: an abort answered at the
// first of them still lets the other three through, on one thread or two.
TEST(ThreadCount, AbortDuringParallelWorkStopsAtOnceAndLeavesNothing) {
    const TCOMP lzx = TCOMP(TCOMPfromLZXWindow(16));
    for (TCOMP method : {TCOMP(tcompTYPE_MSZIP), lzx}) {
        for (unsigned threads : {1u, 4u}) {
            FciClient client{scratchFor("threads-abort")};
            client.threads = threads;
            client.abortAtStatus = 5;
            CCAB ccab = client.cabinet("abort.cab");
            HFCI h = client.create(ccab);
            ASSERT_NE(h, nullptr);
            client.writeFile("big", randomBytes(1500000, 21));
            EXPECT_FALSE(client.add(h, client.path("big"), "big", method)) << threads;
            EXPECT_EQ(client.erf.erfOper, FCIERR_USER_ABORT) << threads;
            EXPECT_EQ(client.statuses.size(), method == lzx ? 8u : 6u)
                << method << " at " << threads << " threads";

            // The context goes on: a later file is written whole, the aborted one is not listed.
            Expected expected;
            ASSERT_TRUE(client.addBytes(h, "after.txt", textBytes(200000, 22), method, expected));
            ASSERT_TRUE(client.flushCabinet(h)) << client.erf.erfOper;
            EXPECT_EQ(checkWithAllDecoders(client.path("abort.cab"), expected), "") << threads;
            EXPECT_TRUE(FCIDestroy(h));
            client.expectNothingLeft();
        }
    }
}

// A report made while the caller takes out a worker's block throws: the call that
// made it, whichever that is, passes the exception on and the context is broken.
TEST(ThreadCount, ExceptionFromAReportOfAWorkersBlockBreaksTheContext) {
    for (TCOMP method : {TCOMP(tcompTYPE_MSZIP), TCOMP(TCOMPfromLZXWindow(17))}) {
        FciClient client{scratchFor("threads-throw")};
        client.threads = 4;
        client.onStatusFile = [] { throw std::runtime_error("handler failed"); };
        CCAB ccab = client.cabinet("t.cab");
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        client.writeFile("text", textBytes(100000, 51));
        bool thrown = false;
        for (int i = 0; i < 6 && !thrown; ++i) {
            try {
                client.add(h, client.path("text"), "t" + std::to_string(i), method);
            } catch (const std::runtime_error&) {
                thrown = true;
            }
        }
        EXPECT_TRUE(thrown) << method << ": no report within a call of the blocks falling due";
        client.onStatusFile = nullptr;
        EXPECT_FALSE(client.add(h, client.path("text"), "later", method));
        EXPECT_FALSE(client.flushCabinet(h));
        EXPECT_TRUE(FCIDestroy(h));
        client.expectNothingLeft();
        EXPECT_FALSE(fs::exists(client.path("t.cab")));
    }
}

TEST(ThreadCount, DestroyWhileWorkersHoldFramesLeavesNothing) {
    for (TCOMP method : {TCOMP(tcompTYPE_MSZIP), TCOMP(TCOMPfromLZXWindow(21))}) {
        FciClient client{scratchFor("threads-destroy")};
        client.threads = 8;
        CCAB ccab = client.cabinet("gone.cab");
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        client.writeFile("text", textBytes(11 * 32768 + 5, 31));
        ASSERT_TRUE(client.add(h, client.path("text"), "text", method));
        EXPECT_TRUE(FCIDestroy(h));
        client.expectNothingLeft();
        EXPECT_FALSE(fs::exists(client.path("gone.cab")));
    }
}

// A temporary file that stops taking writes while blocks are being compressed: the
// failure is reported with the code a single thread gives, by the call that met it or
// the next, and every later call fails with it too.
TEST(ThreadCount, WriteFailureDuringParallelWorkIsReportedAtMostOneCallLate) {
    struct Case {
        std::size_t size;
        std::int64_t failAfter;
    };
    for (Case k : {Case{2000000, 300000}, Case{100000, 50000}, Case{700000, 200000}}) {
        // The last case is LZX's: chunks of four frames, held back while the next is searched.
        const TCOMP method = k.size == 700000 ? TCOMP(TCOMPfromLZXWindow(16)) : tcompTYPE_MSZIP;
        for (unsigned threads : {1u, 2u, 8u}) {
            FciClient client{scratchFor("threads-write")};
            client.threads = threads;
            client.failTempWriteAfter = k.failAfter;
            CCAB ccab = client.cabinet("w.cab");
            HFCI h = client.create(ccab);
            ASSERT_NE(h, nullptr);
            client.writeFile("noise", randomBytes(k.size, 41));
            bool first = client.add(h, client.path("noise"), "noise", method);
            if (threads == 1) {
                EXPECT_FALSE(first);
            }
            if (first) {
                EXPECT_FALSE(client.add(h, client.path("noise"), "again", method));
            }
            EXPECT_EQ(client.erf.erfOper, FCIERR_TEMP_FILE) << threads << " threads";
            client.erf = {};
            EXPECT_FALSE(client.flushCabinet(h));
            EXPECT_EQ(client.erf.erfOper, FCIERR_TEMP_FILE);
            EXPECT_TRUE(FCIDestroy(h));
            client.expectNothingLeft();
            EXPECT_FALSE(fs::exists(client.path("w.cab")));
        }
    }
}

// An LZX chunk that falls due during a file is held back for the search thread,
// but written before the file is listed: a write failure in it fails that file's
// call, as on one thread, and the file is not in the folder.
TEST(ThreadCount, LzxChunkDueDuringAFileIsWrittenBeforeTheFileIsListed) {
    for (unsigned threads : {1u, 2u}) {
        FciClient client{scratchFor("threads-held")};
        client.threads = threads;
        client.failTempWriteAfter = 50000;
        CCAB ccab = client.cabinet("h.cab");
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        // Five frames: the first four are due when the fifth comes.
        client.writeFile("noise", randomBytes(5 * 32768, 61));
        const TCOMP lzx = TCOMP(TCOMPfromLZXWindow(16));
        EXPECT_FALSE(client.add(h, client.path("noise"), "noise", lzx)) << threads;
        EXPECT_EQ(client.erf.erfOper, FCIERR_TEMP_FILE) << threads << " threads";
        EXPECT_TRUE(FCIDestroy(h));
        client.expectNothingLeft();
    }
}

} // namespace
