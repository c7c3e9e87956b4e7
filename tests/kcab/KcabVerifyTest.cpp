// kcab --verify: a cabinet that does not hold what was packed is an error that
// names the file, and no cabinet is left behind.
#include "KcabVerify.h"
#include "EngineFixture.h"
#include "KcabRun.h"
#include "platform/LastError.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>

using namespace kp::platform;

namespace kp::test {

namespace {

struct KcabOutcome {
    int exitCode;
    std::string out;
    std::string err;
};

// Writes to `target` and, when `trigger` first appears in what was written, runs `action`.
class TriggerBuffer : public std::stringbuf {
public:
    TriggerBuffer(std::string trigger, std::function<void()> action)
        : trigger(std::move(trigger)), action(std::move(action)) {}

protected:
    int sync() override {
        if (action && str().find(trigger) != std::string::npos) {
            std::exchange(action, nullptr)();
        }
        return 0;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize put = std::stringbuf::xsputn(s, n);
        sync();
        return put;
    }
    int overflow(int c) override {
        int put = std::stringbuf::overflow(c);
        sync();
        return put;
    }

private:
    std::string trigger;
    std::function<void()> action;
};

class KcabVerifyTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        tree = scratch.folder("tree");
        scratch.write("tree/a.txt", "the first file, plain text\n");
        scratch.write("tree/b.bin", randomBytes(100000, 3));
        scratch.write("tree/sub/c.txt", std::string(50000, 'c'));
        scratch.write("tree/empty", "");
        scratch.write("tree/\xc3\xbc.txt", "a name beyond ASCII");
        out = scratch.path("out.cab");
    }

    KcabOutcome run(std::vector<std::string> arguments,
                    std::function<void()> whenPacked = nullptr) {
        TriggerBuffer outBuffer("[100%]", std::move(whenPacked));
        std::ostream outText(&outBuffer);
        std::ostringstream errText;
        int code = runKcab(arguments, outText, errText, KcabTerminal{false, 100}, interrupt);
        return {code, outBuffer.str(), errText.str()};
    }

    std::vector<KcabPacked> packedTree() const {
        // A folder's subfolders come before its own files.
        return {{tree + "sub/c.txt", "sub\\c.txt"},
                {tree + "a.txt", "a.txt"},
                {tree + "b.bin", "b.bin"},
                {tree + "empty", "empty"},
                {tree + "\xc3\xbc.txt", "\xc3\xbc.txt"}};
    }

    std::vector<std::string> verify(const std::vector<std::string>& cabinets) {
        return verifyKcabCabinets(cabinets, packedTree(), interrupt);
    }

    // Replaces the first `from` in the cabinet's bytes with `to`, of the same
    // length, and clears the data blocks' checksums, as a writer that got its
    // bytes wrong would have summed the wrong bytes. No reserved fields.
    void alter(const std::string& path, const std::string& from, const std::string& to) {
        std::string bytes = readFileBytes(path);
        std::string::size_type at = bytes.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        bytes.replace(at, from.size(), to);
        auto word = [&](std::size_t offset) {
            return unsigned(std::uint8_t(bytes[offset])) | unsigned(std::uint8_t(bytes[offset + 1]))
                                                               << 8;
        };
        for (unsigned folder = 0; folder < word(26); ++folder) {
            std::size_t entry = 36 + 8 * folder;
            std::size_t block = word(entry) | std::size_t(word(entry + 2)) << 16;
            for (unsigned b = 0; b < word(entry + 4); ++b) {
                bytes.replace(block, 4, 4, '\0');
                block += 8 + word(block + 4);
            }
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::atomic<bool> interrupt{false};
    std::string tree;
    std::string out;
};

TEST_F(KcabVerifyTest, WrittenCabinetsAndSetsPassWithEveryMethod) {
    for (const char* method : {"none", "mszip", "lzx:15", "lzx:21"}) {
        KcabOutcome result = run({"-r", "-f", "--verify", "-m", method, "-o", out, tree});
        EXPECT_EQ(result.exitCode, 0) << method << ": " << result.err;
        EXPECT_EQ(result.err, "") << method;
    }
    KcabOutcome set = run(
        {"-r", "-f", "-q", "--verify", "-m", "mszip", "--cabinet-size", "40000", "-o", out, tree});
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_TRUE(std::filesystem::exists(scratch.path("out3.cab")));
    EXPECT_EQ(verify({out, scratch.path("out2.cab"), scratch.path("out3.cab")}),
              std::vector<std::string>{});

    KcabOutcome empty = run({"-f", "-q", "--verify", "-o", out, scratch.folder("nothing")});
    EXPECT_EQ(empty.exitCode, 0) << empty.err;
    EXPECT_TRUE(std::filesystem::exists(out));
}

// Cabinets altered after writing, one way each: every difference names the file.
TEST_F(KcabVerifyTest, AlteredCabinetNamesTheFileThatDiffers) {
    ASSERT_EQ(run({"-r", "-q", "-m", "none", "-o", out, tree}).exitCode, 0);
    std::string good = readFileBytes(out);
    EXPECT_EQ(verify({out}), std::vector<std::string>{});

    alter(out, "plain text", "plain tExt");
    EXPECT_EQ(verify({out}), std::vector<std::string>{"kcab: " + tree +
                                                      "a.txt: the cabinet holds other bytes, "
                                                      "from byte 23 on"});

    std::ofstream(out, std::ios::binary | std::ios::trunc) << good;
    alter(out, "sub\\c.txt", "sub\\d.txt");
    EXPECT_EQ(verify({out}),
              std::vector<std::string>{"kcab: " + tree +
                                       "sub/c.txt: stored as 'sub\\c.txt', but the cabinet "
                                       "names it 'sub\\d.txt'"});

    std::ofstream(out, std::ios::binary | std::ios::trunc) << good;
    struct timespec times[2] = {{0, UTIME_OMIT}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tree + "b.bin").c_str(), times, 0), 0);
    auto problems = verify({out});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].find("kcab: " + tree + "b.bin: the cabinet dates it "), 0u)
        << problems[0];
}

TEST_F(KcabVerifyTest, CompressedStreamThatDecodesToOtherBytesIsCaught) {
    ASSERT_EQ(run({"-r", "-q", "-m", "lzx:15", "-o", out, tree}).exitCode, 0);
    std::string bytes = readFileBytes(out);
    // A bit in the middle of the compressed data: it either decodes to other
    // bytes or not at all, and both are reported against a file.
    bytes[bytes.size() - 700] ^= 0x10;
    std::ofstream(out, std::ios::binary | std::ios::trunc) << bytes;
    auto problems = verify({out});
    ASSERT_FALSE(problems.empty());
    EXPECT_EQ(problems[0].find("kcab: " + tree), 0u) << problems[0];
}

// A source changed after it was packed: the run fails and writes no cabinet; with -f
// the earlier one stays as it was.
TEST_F(KcabVerifyTest, DifferenceFailsTheRunAndWritesNoCabinet) {
    std::string changed = tree + "sub/c.txt";
    for (bool replacing : {false, true}) {
        SCOPED_TRACE(replacing);
        std::string earlier = "an earlier cabinet";
        std::filesystem::remove(out);
        if (replacing) {
            scratch.write("out.cab", earlier);
        }
        scratch.write("tree/sub/c.txt", std::string(50000, 'c'));
        std::vector<std::string> arguments{"-r", "--verify", "-m", "lzx:21", "-o", out, tree};
        if (replacing) {
            arguments.insert(arguments.begin(), "-f");
        }
        KcabOutcome result = run(arguments, [&] {
            struct stat before {};
            ::stat(changed.c_str(), &before);
            scratch.write("tree/sub/c.txt", std::string(49999, 'c') + "d");
            struct timespec times[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, changed.c_str(), times, 0);
        });
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "kcab: " + changed +
                                  ": the cabinet holds other bytes, from byte 49999 on\n"
                                  "kcab: " +
                                  out + ": does not hold what was packed; not written\n");
        if (replacing) {
            EXPECT_EQ(readFileBytes(out), earlier);
        } else {
            EXPECT_FALSE(std::filesystem::exists(out));
        }
        std::size_t entries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
            entries += entry.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(entries, replacing ? 1u : 0u) << "staging files left beside the output";
    }
}

TEST_F(KcabVerifyTest, CabinetThatCannotBeReadBackFailsTheRun) {
    // The first open of the cabinet writes it; the second is the read back.
    injectFault({FileOperation::Open, "out.cab", kErrorAccessDenied, 1, -1});
    KcabOutcome result = run({"-r", "-q", "--verify", "-m", "mszip", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("kcab: " + out + ": cannot be read back (libmspack error"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace

} // namespace kp::test
