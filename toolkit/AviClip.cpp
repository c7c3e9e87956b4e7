#include "AviClip.h"

#include <algorithm>
#include <limits>

namespace kp {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t FourCC(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

constexpr std::uint32_t kRiff = FourCC("RIFF");
constexpr std::uint32_t kAvi = FourCC("AVI ");
constexpr std::uint32_t kList = FourCC("LIST");
constexpr std::uint32_t kHdrl = FourCC("hdrl");
constexpr std::uint32_t kAvih = FourCC("avih");
constexpr std::uint32_t kStrl = FourCC("strl");
constexpr std::uint32_t kStrh = FourCC("strh");
constexpr std::uint32_t kStrf = FourCC("strf");
constexpr std::uint32_t kVids = FourCC("vids");
constexpr std::uint32_t kMovi = FourCC("movi");
constexpr std::uint32_t kRec = FourCC("rec ");

// BITMAPINFOHEADER: the fields we read and the size it has without a palette.
constexpr std::size_t kBitmapInfoSize = 40;
constexpr std::size_t kBiWidth = 4;
constexpr std::size_t kBiHeight = 8;
constexpr std::size_t kBiBitCount = 14;
constexpr std::size_t kBiCompression = 16;
constexpr std::size_t kBiClrUsed = 32;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
// strh: the stream type and the frame rate as rate / scale frames per second.
constexpr std::size_t kStrhScale = 20;
constexpr std::size_t kStrhRate = 24;
constexpr std::size_t kStrhMinSize = 28;

// When the headers give no usable frame time.
constexpr std::uint32_t kDefaultMicroseconds = 66'667;

// A "LIST rec " inside "movi" groups chunks; it holds no further lists, but a hostile
// file may nest them, so the walk stops at this depth.
constexpr int kMaxMoviDepth = 2;

std::uint16_t U16(Bytes data, std::size_t at) {
    if (at + 2 > data.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

std::uint32_t U32(Bytes data, std::size_t at) {
    if (at + 4 > data.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
           static_cast<std::uint32_t>(data[at + 2]) << 16 |
           static_cast<std::uint32_t>(data[at + 3]) << 24;
}

struct Chunk {
    std::uint32_t id = 0;
    Bytes data;
    // Where data starts within the bytes the walk began with.
    std::size_t offset = 0;
    std::uint32_t ListType() const { return U32(data, 0); }
    Bytes ListBody() const { return data.size() < 4 ? Bytes{} : data.subspan(4); }
};

// Calls visit for every chunk of a RIFF chunk sequence. A chunk that claims more bytes
// than remain (a cut-off file) is handed over with what is there, and ends the walk.
template <typename Visit> void ForEachChunk(Bytes data, std::size_t base, Visit&& visit) {
    std::size_t at = 0;
    while (data.size() - at >= 8) {
        const std::uint32_t id = U32(data, at);
        const std::size_t claimed = U32(data, at + 4);
        const std::size_t start = at + 8;
        const std::size_t size = std::min(claimed, data.size() - start);
        visit(Chunk{id, data.subspan(start, size), base + start});
        if (size < claimed) {
            return;
        }
        // Chunks start on even offsets; the pad byte may be missing at the very end.
        at = std::min(data.size(), start + size + (size & 1));
    }
}

// "00dc", "01db": the chunk of a picture of stream number stream.
bool IsPictureOf(std::uint32_t id, int stream) {
    if (stream > 99) {
        return false;
    }
    const auto digit = [](int value) { return static_cast<std::uint32_t>('0' + value); };
    const std::uint32_t number = digit(stream / 10) | digit(stream % 10) << 8;
    const std::uint32_t kind = id >> 16;
    const std::uint32_t db = 'd' | 'b' << 8;
    const std::uint32_t dc = 'd' | 'c' << 8;
    return (id & 0xFFFF) == number && (kind == db || kind == dc);
}

void Fail(std::string* why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
}

} // namespace

std::optional<AviClip> AviClip::Parse(Bytes bytes, std::string* why) {
    if (bytes.size() < 12 || U32(bytes, 0) != kRiff || U32(bytes, 8) != kAvi) {
        Fail(why, "not a RIFF AVI file");
        return std::nullopt;
    }
    // The RIFF size may claim less than its own header or more than the file holds.
    const std::size_t riffEnd =
        std::clamp<std::size_t>(8 + std::size_t{U32(bytes, 4)}, 12, bytes.size());
    const Bytes riff = bytes.subspan(12, riffEnd - 12);

    std::uint32_t microseconds = 0;
    Bytes streamHeader;
    Bytes streamFormat;
    int videoStream = -1;
    Bytes movi;
    std::size_t moviOffset = 0;

    ForEachChunk(riff, 12, [&](const Chunk& chunk) {
        if (chunk.id != kList) {
            return;
        }
        if (chunk.ListType() == kMovi && movi.empty()) {
            movi = chunk.ListBody();
            moviOffset = chunk.offset + 4;
        }
        if (chunk.ListType() != kHdrl) {
            return;
        }
        int stream = 0;
        ForEachChunk(chunk.ListBody(), 0, [&](const Chunk& header) {
            if (header.id == kAvih) {
                microseconds = U32(header.data, 0);
            }
            if (header.id != kList || header.ListType() != kStrl) {
                return;
            }
            Bytes strh;
            Bytes strf;
            ForEachChunk(header.ListBody(), 0, [&](const Chunk& part) {
                if (part.id == kStrh) {
                    strh = part.data;
                } else if (part.id == kStrf) {
                    strf = part.data;
                }
            });
            // Only the first video stream is played; sound and other streams are not.
            if (videoStream < 0 && U32(strh, 0) == kVids) {
                videoStream = stream;
                streamHeader = strh;
                streamFormat = strf;
            }
            ++stream;
        });
    });

    if (videoStream < 0 || streamFormat.size() < kBitmapInfoSize) {
        Fail(why, "no video stream");
        return std::nullopt;
    }
    const auto width = static_cast<std::int32_t>(U32(streamFormat, kBiWidth));
    const auto height = static_cast<std::int32_t>(U32(streamFormat, kBiHeight));
    const std::uint16_t bitCount = U16(streamFormat, kBiBitCount);
    const std::uint32_t compression = U32(streamFormat, kBiCompression);
    const bool uncompressed = compression == kBiRgb &&
                              (bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32);
    if (!uncompressed && !(compression == kBiRle8 && bitCount == 8)) {
        Fail(why, "the pictures are neither uncompressed nor RLE8");
        return std::nullopt;
    }
    // A negative height marks a picture stored top row first, which RLE8 cannot be.
    const bool topDown = height < 0 && compression == kBiRgb;
    if (width < 1 || width > kMaxSide || (height < 1 && !topDown) ||
        (topDown && height < -kMaxSide) || height > kMaxSide) {
        Fail(why, "picture size out of range");
        return std::nullopt;
    }

    AviClip clip;
    clip.width_ = width;
    clip.height_ = topDown ? -height : height;
    clip.bitsPerPixel_ = bitCount;
    clip.bottomUp_ = !topDown;
    clip.coding_ = compression == kBiRle8 ? Coding::Rle8 : Coding::Uncompressed;

    // The palette follows the header, whose own size field may say it is longer.
    clip.palette_.assign(256, AviColor{});
    const std::size_t headerSize =
        std::clamp<std::size_t>(U32(streamFormat, 0), kBitmapInfoSize, streamFormat.size());
    std::size_t colors = U32(streamFormat, kBiClrUsed);
    if (colors == 0 || colors > 256) {
        colors = 256;
    }
    colors = std::min(colors, (streamFormat.size() - headerSize) / 4);
    for (std::size_t i = 0; i < colors; ++i) {
        const std::size_t at = headerSize + i * 4;
        clip.palette_[i] = AviColor{streamFormat[at + 2], streamFormat[at + 1], streamFormat[at]};
    }

    if (microseconds == 0 && streamHeader.size() >= kStrhMinSize) {
        const std::uint64_t scale = U32(streamHeader, kStrhScale);
        const std::uint64_t rate = U32(streamHeader, kStrhRate);
        if (rate != 0) {
            microseconds = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                scale * 1'000'000 / rate, std::numeric_limits<std::uint32_t>::max()));
        }
    }
    clip.microsecondsPerFrame_ = microseconds != 0 ? microseconds : kDefaultMicroseconds;

    const auto collect = [&](auto&& self, Bytes list, std::size_t base, int depth) -> void {
        ForEachChunk(list, base, [&](const Chunk& chunk) {
            if (chunk.id == kList && chunk.ListType() == kRec && depth < kMaxMoviDepth) {
                self(self, chunk.ListBody(), chunk.offset + 4, depth + 1);
            } else if (IsPictureOf(chunk.id, videoStream)) {
                clip.frames_.push_back(Frame{chunk.offset, chunk.data.size()});
            }
        });
    };
    collect(collect, movi, moviOffset, 0);
    if (clip.frames_.empty()) {
        Fail(why, "no frames");
        return std::nullopt;
    }
    // Keep only the bytes the frames need.
    const std::size_t end = clip.frames_.back().offset + clip.frames_.back().size;
    clip.bytes_.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    return clip;
}

void AviClip::DrawFrame(int index, std::vector<AviPixel>& canvas) const {
    const std::size_t pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    if (canvas.size() != pixels) {
        canvas.assign(pixels, 0);
    }
    if (index < 0 || index >= FrameCount()) {
        return;
    }
    const Frame& frame = frames_[static_cast<std::size_t>(index)];
    const Bytes data = Bytes(bytes_).subspan(frame.offset, frame.size);
    if (coding_ == Coding::Rle8) {
        DrawRle8(data, canvas);
    } else {
        DrawUncompressed(data, canvas);
    }
}

void AviClip::DrawUncompressed(Bytes data, std::vector<AviPixel>& canvas) const {
    const auto width = static_cast<std::size_t>(width_);
    const auto bytesPerPixel = static_cast<std::size_t>(bitsPerPixel_ / 8);
    // Rows are padded to whole 32-bit words.
    const std::size_t stride = (width * bytesPerPixel + 3) & ~std::size_t{3};
    const auto pixelAt = [&](const std::uint8_t* at) -> AviPixel {
        switch (bitsPerPixel_) {
        case 8:
            return ToPixel(palette_[*at]);
        case 16: { // x-5-5-5, each part widened to eight bits
            const unsigned value = at[0] | at[1] << 8;
            const auto widen = [](unsigned part) { return (part << 3 | part >> 2) & 0xFF; };
            return widen(value >> 10 & 31) << 16 | widen(value >> 5 & 31) << 8 | widen(value & 31);
        }
        default: // blue, green, red (and a byte nobody reads)
            return ToPixel(AviColor{at[2], at[1], at[0]});
        }
    };
    // An empty chunk repeats the frame before; a short one changes the pixels it holds.
    for (int row = 0; row < height_; ++row) {
        const std::size_t at = static_cast<std::size_t>(row) * stride;
        if (at >= data.size()) {
            break;
        }
        const std::size_t count = std::min(width, (data.size() - at) / bytesPerPixel);
        const int y = bottomUp_ ? height_ - 1 - row : row;
        AviPixel* line = canvas.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < count; ++x) {
            line[x] = pixelAt(data.data() + at + x * bytesPerPixel);
        }
    }
}

void AviClip::DrawRle8(Bytes data, std::vector<AviPixel>& canvas) const {
    // x and y run from the bottom left corner; both stop growing at the picture's edge,
    // so no sequence of codes can move them anywhere that overflows.
    std::size_t x = 0;
    std::size_t y = 0;
    const auto width = static_cast<std::size_t>(width_);
    const auto height = static_cast<std::size_t>(height_);
    const auto put = [&](std::uint8_t value) {
        if (x < width) {
            canvas[(height - 1 - y) * width + x] = ToPixel(palette_[value]);
            ++x;
        }
    };
    std::size_t at = 0;
    while (at + 2 <= data.size() && y < height) {
        const std::uint8_t count = data[at];
        const std::uint8_t value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                put(value);
            }
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // skip right and up, leaving those pixels as they were
            if (at + 2 > data.size()) {
                break;
            }
            x = std::min(width, x + data[at]);
            y = std::min(height, y + data[at + 1]);
            at += 2;
        } else { // value literal pixels, padded to an even count
            const std::size_t literal = std::min<std::size_t>(value, data.size() - at);
            for (std::size_t i = 0; i < literal; ++i) {
                put(data[at + i]);
            }
            at += literal + (literal & 1);
        }
    }
}

AviCanvas::AviCanvas(const AviClip& clip) : clip_(clip) {}

void AviCanvas::ShowFrame(int index) {
    index = std::clamp(index, 0, clip_.FrameCount() - 1);
    if (index == frame_) {
        return;
    }
    if (index != frame_ + 1) {
        pixels_.assign(pixels_.size(), 0);
        for (int earlier = 0; earlier < index; ++earlier) {
            clip_.DrawFrame(earlier, pixels_);
        }
    }
    clip_.DrawFrame(index, pixels_);
    frame_ = index;
}

} // namespace kp
