#include "SolefileFrames.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kp {
namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 40;
constexpr int kFrames = 17;
constexpr int kSheets = 3;
constexpr std::uint32_t kMicroseconds = 80'000;

// The first colour fills the background; the control shows the window behind it.
enum Ink : std::uint8_t { Background, Outline, Paper, Fold, Writing, Shade };

const std::vector<AviColor> kPalette = {
    {192, 192, 192}, {0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {0, 0, 128}, {176, 192, 232},
};

class Picture {
public:
    Picture() : pixels_(kWidth * kHeight, Background) {}

    void Put(int x, int y, Ink ink) {
        if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) {
            pixels_[static_cast<std::size_t>(y * kWidth + x)] = ink;
        }
    }

    void Fill(int left, int top, int right, int bottom, Ink ink) {
        for (int y = top; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) {
                Put(x, y, ink);
            }
        }
    }

    std::vector<std::uint8_t> Take() { return std::move(pixels_); }

private:
    std::vector<std::uint8_t> pixels_;
};

// A sheet 11 x 14 pixels seen from the front, turned about its upright middle line:
// turn 0 shows the written side, 0.5 the back, and the sheet narrows in between.
void DrawSheet(Picture& picture, int centreX, int top, double turn) {
    constexpr int kFullWidth = 11;
    constexpr int kSheetHeight = 14;
    const double facing = std::cos(turn * 2 * std::numbers::pi);
    const int width = std::max(2, static_cast<int>(std::lround(kFullWidth * std::abs(facing))));
    const int left = centreX - width / 2;
    const int right = left + width - 1;
    const int bottom = top + kSheetHeight - 1;
    const bool front = facing >= 0;

    picture.Fill(left, top, right, bottom, front ? Paper : Shade);
    for (int x = left; x <= right; ++x) {
        picture.Put(x, top, Outline);
        picture.Put(x, bottom, Outline);
    }
    for (int y = top; y <= bottom; ++y) {
        picture.Put(left, y, Outline);
        picture.Put(right, y, Outline);
    }
    if (!front || width < 7) {
        return;
    }
    // The dog-eared corner: cut away above its diagonal, folded over below it.
    constexpr int kEar = 3;
    for (int dy = 0; dy <= kEar; ++dy) {
        for (int dx = 0; dx <= kEar; ++dx) {
            const int x = right - kEar + dx;
            const int y = top + dy;
            if (dx > dy) {
                picture.Put(x, y, Background);
            } else if (dx == dy || dx == 0 || dy == kEar) {
                picture.Put(x, y, Outline);
            } else {
                picture.Put(x, y, Fold);
            }
        }
    }
    // Four lines of writing, the last one short.
    for (int line = 0; line < 4; ++line) {
        const int y = top + 5 + line * 2;
        const int end = line == 3 ? left + width / 2 : right - 2;
        picture.Fill(left + 2, y, end, y, Writing);
    }
}

} // namespace

AviMovie SolefileMovie() {
    AviMovie movie;
    movie.width = kWidth;
    movie.height = kHeight;
    movie.palette = kPalette;
    movie.microsecondsPerFrame = kMicroseconds;
    movie.coding = AviCoding::Rle8;
    for (int frame = 0; frame < kFrames; ++frame) {
        Picture picture;
        for (int sheet = 0; sheet < kSheets; ++sheet) {
            // Where this sheet is on its way across, 0 to 1; the sheets follow one
            // another a third of the way apart, so the loop has no seam.
            const double way = std::fmod(
                static_cast<double>(frame) / kFrames + static_cast<double>(sheet) / kSheets, 1.0);
            const int centreX = static_cast<int>(std::lround(-8 + way * (kWidth + 16)));
            const int top =
                static_cast<int>(std::lround(21 - 19 * std::sin(way * std::numbers::pi)));
            DrawSheet(picture, centreX, top, way);
        }
        movie.frames.push_back(picture.Take());
    }
    return movie;
}

} // namespace kp
