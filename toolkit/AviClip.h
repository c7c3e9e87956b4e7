// An animation clip as the animation control plays it: a RIFF AVI file with one video
// stream of uncompressed pictures (8-bit palette, 16-bit 5-5-5, 24- or 32-bit colour)
// or RLE8 pictures; other streams, sound among them, are passed over. The bytes come
// from a file beside the program that anyone may have replaced, so the reader trusts
// nothing in them: every size and offset is checked against what is really there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kp {

struct AviColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const AviColor&) const = default;
};

// A pixel as the canvas holds it: 0x00RRGGBB.
using AviPixel = std::uint32_t;

constexpr AviPixel ToPixel(AviColor color) {
    return static_cast<AviPixel>(color.red) << 16 | static_cast<AviPixel>(color.green) << 8 |
           color.blue;
}

class AviClip {
public:
    // The largest picture we draw; a bigger one is no animation for a wizard page and
    // would only let a hostile file make us allocate without limit.
    static constexpr int kMaxSide = 2048;

    // The clip in bytes, or nullopt (with the reason in why, when given) when they
    // are not a clip this reader plays.
    static std::optional<AviClip> Parse(std::span<const std::uint8_t> bytes,
                                        std::string* why = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    // The time each frame stays on the screen.
    std::uint32_t MicrosecondsPerFrame() const { return microsecondsPerFrame_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    // Always 256 entries; those the file leaves out are black. Used by 8-bit pictures.
    const std::vector<AviColor>& Palette() const { return palette_; }

    // Draws frame index (0 to FrameCount() - 1) onto canvas: Width() x Height() pixels,
    // top row first. A frame may change only part of the picture (an RLE8
    // frame skips pixels, an empty chunk repeats the frame before), so canvas must
    // hold the frame before this one; for the first frame, any picture.
    void DrawFrame(int index, std::vector<AviPixel>& canvas) const;

private:
    enum class Coding { Uncompressed, Rle8 };
    struct Frame {
        std::size_t offset = 0;
        std::size_t size = 0;
    };

    AviClip() = default;
    void DrawUncompressed(std::span<const std::uint8_t> data, std::vector<AviPixel>& canvas) const;
    void DrawRle8(std::span<const std::uint8_t> data, std::vector<AviPixel>& canvas) const;

    std::vector<std::uint8_t> bytes_;
    std::vector<Frame> frames_;
    std::vector<AviColor> palette_;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 8;
    bool bottomUp_ = true;
    Coding coding_ = Coding::Uncompressed;
    std::uint32_t microsecondsPerFrame_ = 0;
};

// The picture of a clip at a given frame. Moving on by one frame draws only that
// frame; any other move starts again from a blank picture and the first frame, since
// frames may build on the ones before them.
class AviCanvas {
public:
    explicit AviCanvas(const AviClip& clip);

    // Makes the picture that of frame index (0-based; clamped to the clip's frames).
    void ShowFrame(int index);
    int Frame() const { return frame_; }
    const std::vector<AviPixel>& Pixels() const { return pixels_; }

private:
    const AviClip& clip_;
    std::vector<AviPixel> pixels_;
    int frame_ = -1;
};

} // namespace kp
