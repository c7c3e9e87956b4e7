#include "AviWriter.h"

#include <algorithm>
#include <cstdlib>

namespace kp {
namespace {

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAviifKeyFrame = 0x10;
constexpr std::uint8_t kMaxRun = 255;

void AppendFourCC(std::vector<std::uint8_t>& out, const char (&code)[5]) {
    out.insert(out.end(), code, code + 4);
}

// The picture bottom row first, each row padded to a whole number of 32-bit words.
std::vector<std::uint8_t> UncompressedPicture(const std::vector<std::uint8_t>& pixels, int width,
                                              int height) {
    const auto stride = static_cast<std::size_t>((width + 3) & ~3);
    std::vector<std::uint8_t> out(stride * static_cast<std::size_t>(height), 0);
    for (int row = 0; row < height; ++row) {
        const auto from = pixels.begin() + static_cast<std::ptrdiff_t>(height - 1 - row) * width;
        std::copy_n(from, width, out.begin() + static_cast<std::ptrdiff_t>(row * stride));
    }
    return out;
}

void EncodeRow(const std::uint8_t* row, int width, std::vector<std::uint8_t>& out) {
    int at = 0;
    const auto runAt = [&](int from) {
        int length = 1;
        while (from + length < width && length < kMaxRun && row[from + length] == row[from]) {
            ++length;
        }
        return length;
    };
    while (at < width) {
        const int run = runAt(at);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[at]);
            at += run;
            continue;
        }
        int end = at;
        while (end < width && end - at < kMaxRun && runAt(end) < 2) {
            ++end;
        }
        const int literal = end - at;
        if (literal < 3) { // codes 0, 1 and 2 after a zero mean something else
            for (int i = at; i < end; ++i) {
                out.push_back(1);
                out.push_back(row[i]);
            }
        } else {
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(literal));
            out.insert(out.end(), row + at, row + end);
            if (literal % 2 != 0) {
                out.push_back(0);
            }
        }
        at = end;
    }
}

} // namespace

void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void AppendChunk(std::vector<std::uint8_t>& out, const char (&id)[5],
                 const std::vector<std::uint8_t>& data) {
    AppendFourCC(out, id);
    AppendU32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) {
        out.push_back(0);
    }
}

void AppendList(std::vector<std::uint8_t>& out, const char (&type)[5],
                const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> data;
    AppendFourCC(data, type);
    data.insert(data.end(), body.begin(), body.end());
    AppendChunk(out, "LIST", data);
}

std::vector<std::uint8_t> EncodeRle8(const std::vector<std::uint8_t>& pixels, int width,
                                     int height) {
    std::vector<std::uint8_t> out;
    for (int row = 0; row < height; ++row) {
        EncodeRow(pixels.data() + static_cast<std::ptrdiff_t>(height - 1 - row) * width, width,
                  out);
        out.push_back(0);
        out.push_back(row + 1 < height ? 0 : 1);
    }
    return out;
}

std::vector<std::uint8_t> WriteAvi(const AviMovie& movie) {
    std::vector<std::vector<std::uint8_t>> pictures;
    for (const std::vector<std::uint8_t>& frame : movie.frames) {
        pictures.push_back(movie.coding == AviCoding::Rle8
                               ? EncodeRle8(frame, movie.width, movie.height)
                               : UncompressedPicture(frame, movie.width, movie.height));
    }
    return WriteCodedAvi(movie, pictures);
}

std::vector<std::uint8_t> WriteCodedAvi(const AviMovie& movie,
                                        const std::vector<std::vector<std::uint8_t>>& pictures) {
    const bool rle = movie.coding == AviCoding::Rle8;
    std::size_t largest = 0;
    for (const std::vector<std::uint8_t>& picture : pictures) {
        largest = std::max(largest, picture.size());
    }
    const auto frameCount = static_cast<std::uint32_t>(pictures.size());
    const auto width = static_cast<std::uint32_t>(movie.width);
    const auto height = static_cast<std::uint32_t>(std::abs(movie.height));

    std::vector<std::uint8_t> avih;
    AppendU32(avih, movie.microsecondsPerFrame);
    AppendU32(avih, 0); // max bytes per second
    AppendU32(avih, 0); // padding granularity
    AppendU32(avih, kAvifHasIndex);
    AppendU32(avih, frameCount);
    AppendU32(avih, 0); // initial frames
    AppendU32(avih, 1); // streams
    AppendU32(avih, static_cast<std::uint32_t>(largest));
    AppendU32(avih, width);
    AppendU32(avih, height);
    for (int i = 0; i < 4; ++i) {
        AppendU32(avih, 0);
    }

    std::vector<std::uint8_t> strh;
    strh.insert(strh.end(), {'v', 'i', 'd', 's'});
    AppendU32(strh, 0);                          // handler
    AppendU32(strh, 0);                          // flags
    AppendU32(strh, 0);                          // priority and language
    AppendU32(strh, 0);                          // initial frames
    AppendU32(strh, movie.microsecondsPerFrame); // scale
    AppendU32(strh, 1'000'000);                  // rate
    AppendU32(strh, 0);                          // start
    AppendU32(strh, frameCount);
    AppendU32(strh, static_cast<std::uint32_t>(largest));
    AppendU32(strh, 0xFFFFFFFF); // quality: the default
    AppendU32(strh, 0);          // sample size: varies
    AppendU16(strh, 0);
    AppendU16(strh, 0);
    AppendU16(strh, static_cast<std::uint16_t>(width));
    AppendU16(strh, static_cast<std::uint16_t>(height));

    std::vector<std::uint8_t> strf;
    AppendU32(strf, 40);
    AppendU32(strf, width);
    AppendU32(strf, static_cast<std::uint32_t>(movie.height)); // signed: the row order
    AppendU16(strf, 1);                                        // planes
    AppendU16(strf, static_cast<std::uint16_t>(movie.bitsPerPixel));
    AppendU32(strf, rle ? 1 : 0);
    AppendU32(strf, static_cast<std::uint32_t>(largest));
    AppendU32(strf, 0);
    AppendU32(strf, 0);
    AppendU32(strf, static_cast<std::uint32_t>(movie.palette.size()));
    AppendU32(strf, 0);
    for (const AviColor& color : movie.palette) {
        strf.insert(strf.end(), {color.blue, color.green, color.red, 0});
    }

    std::vector<std::uint8_t> strl;
    AppendChunk(strl, "strh", strh);
    AppendChunk(strl, "strf", strf);
    std::vector<std::uint8_t> hdrl;
    AppendChunk(hdrl, "avih", avih);
    AppendList(hdrl, "strl", strl);

    std::vector<std::uint8_t> movi;
    std::vector<std::uint8_t> index;
    for (const std::vector<std::uint8_t>& picture : pictures) {
        index.insert(index.end(), {'0', '0', 'd', rle ? std::uint8_t{'c'} : std::uint8_t{'b'}});
        AppendU32(index, kAviifKeyFrame);
        AppendU32(index, static_cast<std::uint32_t>(movi.size() + 4)); // from "movi"
        AppendU32(index, static_cast<std::uint32_t>(picture.size()));
        if (rle) {
            AppendChunk(movi, "00dc", picture);
        } else {
            AppendChunk(movi, "00db", picture);
        }
    }

    std::vector<std::uint8_t> body;
    body.insert(body.end(), {'A', 'V', 'I', ' '});
    AppendList(body, "hdrl", hdrl);
    AppendList(body, "movi", movi);
    AppendChunk(body, "idx1", index);
    std::vector<std::uint8_t> file;
    AppendChunk(file, "RIFF", body);
    return file;
}

} // namespace kp
