#include "AviClip.h"
#include "AviWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace kp {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Picture = std::vector<AviPixel>;

Bytes ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every frame as the canvas shows it, played from the first.
std::vector<Picture> PlayAll(const AviClip& clip) {
    AviCanvas canvas(clip);
    std::vector<Picture> frames;
    for (int frame = 0; frame < clip.FrameCount(); ++frame) {
        canvas.ShowFrame(frame);
        frames.push_back(canvas.Pixels());
    }
    return frames;
}

// Where a chunk's data starts, found by its four-character code.
std::size_t DataOf(const Bytes& file, const char (&code)[5]) {
    const auto at = std::search(file.begin(), file.end(), code, code + 4);
    return static_cast<std::size_t>(at - file.begin()) + 8;
}

// Palette pictures in the colours the palette gives them.
Picture Paint(const std::vector<AviColor>& palette, const Bytes& indexes) {
    Picture picture;
    for (const std::uint8_t index : indexes) {
        picture.push_back(index < palette.size() ? ToPixel(palette[index]) : 0);
    }
    return picture;
}

std::vector<Picture> PaintAll(const AviMovie& movie) {
    std::vector<Picture> pictures;
    for (const Bytes& frame : movie.frames) {
        pictures.push_back(Paint(movie.palette, frame));
    }
    return pictures;
}

// Colours 0 to 9 that tell the indexes apart.
std::vector<AviColor> Grades() {
    std::vector<AviColor> palette;
    for (std::uint8_t i = 0; i < 10; ++i) {
        palette.push_back({static_cast<std::uint8_t>(i * 20), i, 1});
    }
    return palette;
}

void Put32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

AviMovie SmallMovie(AviCoding coding) {
    AviMovie movie;
    movie.width = 5;
    movie.height = 3;
    movie.coding = coding;
    movie.palette = {{1, 2, 3}, {40, 50, 60}, {200, 100, 0}};
    for (std::uint8_t frame = 0; frame < 3; ++frame) {
        Bytes pixels(15);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<std::uint8_t>((i + frame) % 3);
        }
        movie.frames.push_back(pixels);
    }
    return movie;
}

TEST(AviClip, SolefileIsAnAnimationOfTheControlsSize) {
    const Bytes file = ReadFile(KP_SOLEFILE_PATH);
    std::string why;
    const std::optional<AviClip> clip = AviClip::Parse(file, &why);
    ASSERT_TRUE(clip) << why;
    EXPECT_EQ(clip->Width(), 176);
    EXPECT_EQ(clip->Height(), 40);
    EXPECT_GE(clip->FrameCount(), 17);
    EXPECT_GT(clip->MicrosecondsPerFrame(), 0u);
    const std::vector<Picture> frames = PlayAll(*clip);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_NE(frames[i], frames[i - 1]) << "frame " << i + 1 << " does not move";
    }
    // The background is what the control makes transparent: it must be the corner.
    EXPECT_EQ(frames[0][0], ToPixel(clip->Palette()[0]));
}

// Movies of random sizes and pictures, with long runs, short runs and noise, come back
// pixel for pixel in both codings.
TEST(AviClip, ReadsBackWhatTheWriterWrote) {
    std::mt19937 random(12);
    for (int round = 0; round < 60; ++round) {
        AviMovie movie;
        movie.width = std::uniform_int_distribution(1, 600)(random);
        movie.height = std::uniform_int_distribution(1, 12)(random);
        movie.microsecondsPerFrame = std::uniform_int_distribution(1, 200'000)(random);
        movie.coding = round % 2 == 0 ? AviCoding::Rle8 : AviCoding::Uncompressed;
        for (int i = 0; i < 256; ++i) {
            movie.palette.push_back({static_cast<std::uint8_t>(random()),
                                     static_cast<std::uint8_t>(random()),
                                     static_cast<std::uint8_t>(random())});
        }
        const int frames = std::uniform_int_distribution(1, 4)(random);
        for (int frame = 0; frame < frames; ++frame) {
            Bytes pixels;
            while (pixels.size() < static_cast<std::size_t>(movie.width * movie.height)) {
                const int length = std::uniform_int_distribution(1, 300)(random);
                const bool run = random() % 2 == 0;
                const auto value = static_cast<std::uint8_t>(random());
                for (int i = 0; i < length; ++i) {
                    pixels.push_back(run ? value : static_cast<std::uint8_t>(random() % 4));
                }
            }
            pixels.resize(static_cast<std::size_t>(movie.width * movie.height));
            movie.frames.push_back(pixels);
        }
        std::string why;
        const std::optional<AviClip> clip = AviClip::Parse(WriteAvi(movie), &why);
        ASSERT_TRUE(clip) << why;
        EXPECT_EQ(clip->Width(), movie.width);
        EXPECT_EQ(clip->Height(), movie.height);
        EXPECT_EQ(clip->MicrosecondsPerFrame(), movie.microsecondsPerFrame);
        EXPECT_EQ(clip->Palette(), movie.palette);
        EXPECT_EQ(PlayAll(*clip), PaintAll(movie)) << "round " << round;
    }
}

// RLE8 written by hand, with every kind of code: a frame may leave pixels as they
// were, and codes that run past the picture's edge are cut there.
TEST(AviClip, DrawsEveryRle8Code) {
    AviMovie movie;
    movie.width = 6;
    movie.height = 3;
    movie.coding = AviCoding::Rle8;
    movie.palette = Grades();
    const Bytes fill = {6, 9, 0, 0, 6, 9, 0, 0, 6, 9, 0, 1};
    const Bytes changes = {
        3, 1,             // three pixels of 1 on the bottom row
        0, 2, 1, 1,       // skip one right and one up: (4, 1)
        0, 3, 4, 5, 6, 0, // three literal pixels and the pad byte; the last is cut
        0, 0,             // end of line: (0, 2)
        9, 7,             // a run longer than the row
        0, 1,             // end of picture
        5, 5,             // never drawn
    };
    const std::optional<AviClip> clip = AviClip::Parse(WriteCodedAvi(movie, {fill, changes}));
    ASSERT_TRUE(clip);
    const std::vector<Picture> frames = PlayAll(*clip);
    ASSERT_EQ(frames.size(), 2u);
    // Top row first.
    const Bytes expected = {7, 7, 7, 7, 7, 7, //
                            9, 9, 9, 9, 4, 5, //
                            1, 1, 1, 9, 9, 9};
    EXPECT_EQ(frames[1], Paint(movie.palette, expected));
}

TEST(AviClip, ReadsUncompressedPicturesInEitherRowOrder) {
    AviMovie movie;
    movie.width = 3;
    movie.height = -2; // top row first
    movie.coding = AviCoding::Uncompressed;
    movie.palette = Grades();
    // Rows are padded to four bytes.
    const std::optional<AviClip> clip =
        AviClip::Parse(WriteCodedAvi(movie, {{1, 2, 3, 0, 4, 5, 6, 0}}));
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->Height(), 2);
    EXPECT_EQ(PlayAll(*clip)[0], Paint(movie.palette, {1, 2, 3, 4, 5, 6}));

    movie.height = 2;
    const std::optional<AviClip> bottomUp =
        AviClip::Parse(WriteCodedAvi(movie, {{1, 2, 3, 0, 4, 5, 6, 0}}));
    ASSERT_TRUE(bottomUp);
    EXPECT_EQ(PlayAll(*bottomUp)[0], Paint(movie.palette, {4, 5, 6, 1, 2, 3}));
}

// Two rows of two pixels, bottom row first, each row padded to four bytes.
TEST(AviClip, ReadsUncompressedColourPictures) {
    const AviPixel red = 0xFF0000;
    const AviPixel green = 0x00FF00;
    const AviPixel blue = 0x0000FF;
    const AviPixel grey = 0x848484;
    struct Case {
        int bits;
        Bytes picture;
    };
    const Case cases[] = {
        {16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x10, 0x42}},
        {24, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 132, 132, 132, 0, 0}},
        {32, {0, 0, 255, 9, 0, 255, 0, 9, 255, 0, 0, 9, 132, 132, 132, 9}},
    };
    for (const Case& colour : cases) {
        AviMovie movie;
        movie.width = 2;
        movie.height = 2;
        movie.coding = AviCoding::Uncompressed;
        movie.bitsPerPixel = colour.bits;
        const std::optional<AviClip> clip = AviClip::Parse(WriteCodedAvi(movie, {colour.picture}));
        ASSERT_TRUE(clip) << colour.bits;
        EXPECT_EQ(PlayAll(*clip)[0], (Picture{blue, grey, red, green})) << colour.bits;
    }
}

// Frames grouped in "rec " lists are found; palette changes and padding are passed over.
TEST(AviClip, FindsFramesInRecordListsAndSkipsOtherChunks) {
    const AviMovie movie = SmallMovie(AviCoding::Uncompressed);
    const Bytes plain = WriteAvi(movie);
    const std::size_t moviList = DataOf(plain, "movi") - 16; // at "LIST"
    Bytes pictures;
    std::size_t at = moviList + 12;
    for (std::size_t frame = 0; frame < movie.frames.size(); ++frame) {
        const std::size_t size = plain[at + 4] | plain[at + 5] << 8;
        Bytes record;
        AppendChunk(record, "00pc", {0, 1, 0, 0, 9, 9, 9, 0});
        record.insert(record.end(), plain.begin() + static_cast<std::ptrdiff_t>(at),
                      plain.begin() + static_cast<std::ptrdiff_t>(at + 8 + size + size % 2));
        AppendChunk(pictures, "JUNK", {0, 0, 0});
        AppendList(pictures, "rec ", record);
        at += 8 + size + size % 2;
    }
    // "AVI " and the headers as they were, then the new "movi" list.
    Bytes body(plain.begin() + 8, plain.begin() + static_cast<std::ptrdiff_t>(moviList));
    AppendList(body, "movi", pictures);
    Bytes file;
    AppendChunk(file, "RIFF", body);

    const std::optional<AviClip> clip = AviClip::Parse(file);
    ASSERT_TRUE(clip);
    EXPECT_EQ(PlayAll(*clip), PaintAll(movie));
    EXPECT_EQ(clip->Palette()[0], (AviColor{1, 2, 3}));
}

TEST(AviClip, RefusesWhatItCannotPlay) {
    const Bytes good = WriteAvi(SmallMovie(AviCoding::Rle8));
    ASSERT_TRUE(AviClip::Parse(good));
    const std::size_t strf = DataOf(good, "strf");
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"a wave file", 8, 0x45564157},
        {"a RIFF size that ends in its own header", 4, 1},
        {"24-bit RLE8", strf + 14, 24 | 1 << 16},
        {"12-bit pictures", strf + 14, 12},
        {"RLE4", strf + 16, 2},
        {"no width", strf + 4, 0},
        {"too wide", strf + 4, AviClip::kMaxSide + 1},
        {"RLE8 top row first", strf + 8, static_cast<std::uint32_t>(-3)},
        {"the most negative height", strf + 8, 0x80000000},
        {"too high", strf + 8, AviClip::kMaxSide + 1},
        {"a sound stream only", DataOf(good, "strh"), 0x73647561},
        {"a cut-off format", strf - 4, 39},
        {"no frames", DataOf(good, "movi") - 12, 4},
    };
    for (const Case& bad : cases) {
        Bytes file = good;
        Put32(file, bad.at, bad.value);
        std::string why;
        EXPECT_FALSE(AviClip::Parse(file, &why)) << bad.what;
        EXPECT_FALSE(why.empty()) << bad.what;
    }
    EXPECT_FALSE(AviClip::Parse(Bytes{}));
    EXPECT_FALSE(AviClip::Parse(Bytes(good.begin(), good.begin() + 11)));
}

// A file cut anywhere either is refused or plays the frames it holds whole exactly as
// the full file does; nothing it says about sizes is believed.
TEST(AviClip, CutOffClipsPlayTheFramesTheyHold) {
    const Bytes file = ReadFile(KP_SOLEFILE_PATH);
    const std::optional<AviClip> whole = AviClip::Parse(file);
    ASSERT_TRUE(whole);
    const std::vector<Picture> frames = PlayAll(*whole);
    int played = 0;
    for (std::size_t length = 0; length < file.size(); length += length < 2048 ? 1 : 29) {
        const std::optional<AviClip> cut =
            AviClip::Parse(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        if (!cut) {
            continue;
        }
        ++played;
        const std::vector<Picture> cutFrames = PlayAll(*cut);
        ASSERT_LE(cutFrames.size(), frames.size());
        // The last frame may be cut itself; every one before it is whole.
        for (std::size_t i = 0; i + 1 < cutFrames.size(); ++i) {
            ASSERT_EQ(cutFrames[i], frames[i]) << "cut at " << length << ", frame " << i;
        }
    }
    EXPECT_GT(played, 0);
}

// Random damage never makes the reader step outside the bytes or the picture (the
// sanitizer build checks every access); the damaged clip is refused or plays.
TEST(AviClip, SurvivesDamagedFiles) {
    const Bytes file = WriteAvi(SmallMovie(AviCoding::Rle8));
    const Bytes sole = ReadFile(KP_SOLEFILE_PATH);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = round % 3 == 0 ? sole : file;
        const int changes = std::uniform_int_distribution(1, 8)(random);
        for (int i = 0; i < changes; ++i) {
            const std::size_t at = random() % damaged.size();
            damaged[at] = i % 2 == 0 ? static_cast<std::uint8_t>(random()) : 0xFF;
        }
        if (const std::optional<AviClip> clip = AviClip::Parse(damaged)) {
            AviCanvas canvas(*clip);
            canvas.ShowFrame(clip->FrameCount() - 1);
            canvas.ShowFrame(0);
            EXPECT_EQ(canvas.Pixels().size(), static_cast<std::size_t>(clip->Width()) *
                                                  static_cast<std::size_t>(clip->Height()));
        }
    }
}

TEST(AviCanvas, GoingBackStartsAgainFromTheFirstFrame) {
    const std::optional<AviClip> clip = AviClip::Parse(ReadFile(KP_SOLEFILE_PATH));
    ASSERT_TRUE(clip);
    const std::vector<Picture> frames = PlayAll(*clip);
    AviCanvas canvas(*clip);
    for (const int frame : {5, 2, 2, 3, 16, 0, 40, -1}) {
        canvas.ShowFrame(frame);
        const int shown = std::clamp(frame, 0, clip->FrameCount() - 1);
        EXPECT_EQ(canvas.Frame(), shown);
        EXPECT_EQ(canvas.Pixels(), frames[static_cast<std::size_t>(shown)]) << "frame " << frame;
    }
}

} // namespace
} // namespace kp
