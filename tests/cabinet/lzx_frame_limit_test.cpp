// How the encoder cuts frames for decoders: a frame whose bits outgrow what they
// buffer is written again, one block per frame (real data rarely gets there, so
// the test lowers the limit), and the frame before a short last one never ends
// where libmspack cannot size the last.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cab_readers.h"
#include "fci_client.h"
#include "lzx/encoder.h"

namespace {
using namespace kp::cab;
namespace fs = std::filesystem;

struct Frames {
    std::vector<std::vector<std::uint8_t>> data;
    std::vector<std::uint32_t> sizes;
};

int keep(void* o, const std::uint8_t* d, std::uint32_t c, std::uint32_t u) {
    auto* f = static_cast<Frames*>(o);
    f->data.emplace_back(d, d + c);
    f->sizes.push_back(u);
    return 0;
}
void* plainAlloc(void*, std::size_t n) {
    return std::malloc(n);
}
void plainFree(void*, void* p) {
    std::free(p);
}

void put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

// One folder, one file "f", the frames as its CFDATA blocks.
std::vector<std::uint8_t> cabinetOf(const Frames& frames, unsigned window, std::uint32_t size) {
    std::uint32_t dataStart = 36 + 8 + 16 + 2;
    std::uint32_t total = dataStart;
    for (const auto& d : frames.data) {
        total += 8 + std::uint32_t(d.size());
    }
    std::vector<std::uint8_t> cab = {'M', 'S', 'C', 'F'};
    put32(cab, 0);
    put32(cab, total);
    put32(cab, 0);
    put32(cab, 36 + 8); // first CFFILE
    put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    put16(cab, 1); // folders
    put16(cab, 1); // files
    put16(cab, 0);
    put16(cab, 1);
    put16(cab, 0);
    put32(cab, dataStart);
    put16(cab, unsigned(frames.data.size()));
    put16(cab, TCOMPfromLZXWindow(window));
    put32(cab, size);
    put32(cab, 0);
    put16(cab, 0);
    put16(cab, (40 << 9) | (1 << 5) | 1);
    put16(cab, 0);
    put16(cab, 0x20);
    cab.push_back('f');
    cab.push_back(0);
    for (std::size_t i = 0; i < frames.data.size(); ++i) {
        put32(cab, 0); // no checksum
        put16(cab, unsigned(frames.data[i].size()));
        put16(cab, frames.sizes[i]);
        cab.insert(cab.end(), frames.data[i].begin(), frames.data[i].end());
    }
    return cab;
}

TEST(LzxFrameLimit, OversizedFramesAreRedoneAndStillDecode) {
    auto input = kp::test::textBytes(5 * kFrameSize + 777, 11);
    auto noise = kp::test::randomBytes(2 * kFrameSize, 12);
    input.insert(input.begin() + 2 * kFrameSize, noise.begin(), noise.end());
    for (unsigned window : {15u, 21u}) {
        Frames frames;
        lzx::Tuning tuning;
        tuning.frameLimit = 1500; // below what the text frames need
        lzx::Encoder* e = lzx::Encoder::create(window, Allocator{plainAlloc, plainFree, nullptr},
                                               BlockSink{keep, &frames}, tuning);
        ASSERT_NE(e, nullptr);
        for (std::size_t at = 0; at < input.size(); at += kFrameSize) {
            auto n = std::uint32_t(std::min<std::size_t>(kFrameSize, input.size() - at));
            ASSERT_EQ(e->frame(input.data() + at, n), codecOk);
        }
        ASSERT_EQ(e->finish(), codecOk);
        lzx::Encoder::destroy(e);

        ASSERT_EQ(frames.data.size(), 8u);
        for (std::size_t i = 0; i < frames.data.size(); ++i) {
            // A frame on its own never costs more than the frame stored, plus its
            // block header, the stream header and the repeated offsets.
            EXPECT_LE(frames.data[i].size(), frames.sizes[i] + 32u) << "frame " << i;
        }
        fs::path dir = fs::temp_directory_path() / ("kp-lzx-limit-" + std::to_string(::getpid()) +
                                                    "-" + std::to_string(window));
        fs::create_directories(dir);
        auto cab = cabinetOf(frames, window, std::uint32_t(input.size()));
        std::ofstream(dir / "limit.cab", std::ios::binary)
            .write(reinterpret_cast<const char*>(cab.data()), std::streamsize(cab.size()));
        EXPECT_EQ(kp::test::checkWithAllDecoders(dir / "limit.cab", {{"f", input}}), "")
            << "window " << window;
        fs::remove_all(dir);
    }
}

// libmspack sizes a frame before decoding it, and learns the stream's length only
// once it reads the last data block, 4096 bytes at a time. A first frame of 4080
// bytes, then random frames stored after a 16-byte block header, put the end of
// the frame before the short last one exactly on the end of one of those reads:
// with nothing of the last block read, it took the last frame for a full one and
// failed (MSPACK_ERR_DECRUNCH; cabextract: "error in CAB data format"). The frame
// before the last is once in the last chunk the encoder writes and once in the
// chunk before it.
TEST(LzxLastFrame, FrameBeforeAShortLastFrameNeverEndsOnALibmspackRead) {
    auto noise = kp::test::randomBytes(5 * kFrameSize, 21);
    auto encode = [&](std::size_t prefix, unsigned fullFrames, Frames& frames) {
        std::vector<std::uint8_t> input(kFrameSize, 0);
        std::copy(noise.begin(), noise.begin() + std::ptrdiff_t(prefix), input.begin());
        input.insert(input.end(), noise.begin() + kFrameSize,
                     noise.begin() + kFrameSize * fullFrames + 20000);
        lzx::Encoder* e = lzx::Encoder::create(15, Allocator{plainAlloc, plainFree, nullptr},
                                               BlockSink{keep, &frames}, lzx::Tuning{});
        EXPECT_NE(e, nullptr);
        for (std::size_t at = 0; e && at < input.size(); at += kFrameSize) {
            auto n = std::uint32_t(std::min<std::size_t>(kFrameSize, input.size() - at));
            EXPECT_EQ(e->frame(input.data() + at, n), codecOk);
        }
        EXPECT_EQ(e ? e->finish() : codecFailed, codecOk);
        lzx::Encoder::destroy(e);
        return input;
    };
    for (unsigned fullFrames : {3u, 4u}) {
        // The random prefix whose frame comes out at 4080 bytes, whatever the
        // encoder's tuning: then every stored frame after it ends on a read.
        std::size_t prefix = 3600;
        Frames frames;
        std::vector<std::uint8_t> input;
        for (; prefix < 4400; ++prefix) {
            frames = {};
            input = encode(prefix, fullFrames, frames);
            if (frames.data.size() == fullFrames + 1 && frames.data[0].size() == 4080u) {
                break;
            }
        }
        ASSERT_LT(prefix, 4400u) << "no prefix sets the trap any more";
        for (unsigned f = 1; f + 1 < fullFrames; ++f) {
            ASSERT_GE(frames.data[f].size(), kFrameSize) << "frame " << f << " is not stored";
        }

        fs::path dir = fs::temp_directory_path() / ("kp-lzx-last-" + std::to_string(::getpid()) +
                                                    "-" + std::to_string(fullFrames));
        fs::create_directories(dir);
        auto cab = cabinetOf(frames, 15, std::uint32_t(input.size()));
        std::ofstream(dir / "last.cab", std::ios::binary)
            .write(reinterpret_cast<const char*>(cab.data()), std::streamsize(cab.size()));
        EXPECT_EQ(kp::test::checkWithAllDecoders(dir / "last.cab", {{"f", input}}), "")
            << fullFrames << " full frames, prefix " << prefix;
        fs::remove_all(dir);
    }
}

} // namespace
