// One small cabinet written out byte for byte, each field worked out from Microsoft's
// cabinet format document rather than taken from what the writer happens to produce.
// A change that every decoder would still accept (another field order, a flag, a
// padding byte, a different checksum fold) fails here, where the round trips pass it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "cab_header.h"
#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;

const std::string kStoredText = "Hello, cabinet!\n";           // 16 bytes, folder 0, stored
const std::string kDeflatedText = "one two one two one two\n"; // 24 bytes, folder 1, MSZIP

// What zlib's deflate makes of kDeflatedText as MSZIP's one block: a final block with
// fixed codes (BFINAL 1, BTYPE 01), "one two o" as literals, a match of 14 bytes at
// distance 8, the newline as a literal, end of block. Checked by inflating below, so a zlib that
// chose other codes shows up as a changed pin, not as a broken cabinet.
const std::vector<std::uint8_t> kDeflateBytes = {
    0xCB, 0xCF, 0x4B, 0x55, 0x28, 0x29, 0xCF, 0x57, 0xC8, 0x47, 0xA5, 0xB9, 0x00,
};

// clang-format off
// The whole cabinet. Offsets in the comments are from the start of the file.
const std::vector<std::uint8_t> kGolden = {
    // CFHEADER
    'M', 'S', 'C', 'F',      // 0x00 signature
    0x00, 0x00, 0x00, 0x00,  // 0x04 reserved1
    0x8F, 0x00, 0x00, 0x00,  // 0x08 cbCabinet: 143 bytes, the whole file
    0x00, 0x00, 0x00, 0x00,  // 0x0C reserved2
    0x34, 0x00, 0x00, 0x00,  // 0x10 coffFiles: 36 header + 2 x 8 CFFOLDER = 0x34
    0x00, 0x00, 0x00, 0x00,  // 0x14 reserved3
    0x03, 0x01,              // 0x18 versionMinor 3, versionMajor 1
    0x02, 0x00,              // 0x1A cFolders: a change of method starts a second folder
    0x02, 0x00,              // 0x1C cFiles
    0x00, 0x00,              // 0x1E flags: no previous, no next, no reserve fields
    0x92, 0x10,              // 0x20 setID: 4242, as the client's CCAB gives it
    0x00, 0x00,              // 0x22 iCabinet: first of its set, counted from 0
    // CFFOLDER 0: stored
    0x60, 0x00, 0x00, 0x00,  // 0x24 coffCabStart: its CFDATA at 0x60
    0x01, 0x00,              // 0x28 cCFData
    0x00, 0x00,              // 0x2A typeCompress: tcompTYPE_NONE
    // CFFOLDER 1: MSZIP
    0x78, 0x00, 0x00, 0x00,  // 0x2C coffCabStart: 0x60 + 8 + 16
    0x01, 0x00,              // 0x30 cCFData
    0x01, 0x00,              // 0x32 typeCompress: tcompTYPE_MSZIP
    // CFFILE a.txt
    0x10, 0x00, 0x00, 0x00,  // 0x34 cbFile: 16
    0x00, 0x00, 0x00, 0x00,  // 0x38 uoffFolderStart
    0x00, 0x00,              // 0x3C iFolder 0
    0x5D, 0x50,              // 0x3E date: (2020 - 1980) << 9 | 2 << 5 | 29, 2020-02-29
    0x7D, 0xBF,              // 0x40 time: 23 << 11 | 59 << 5 | 58 / 2, 23:59:58
    0x20, 0x00,              // 0x42 attribs: _A_ARCH
    'a', '.', 't', 'x', 't', 0x00, // 0x44 szName, ending in a zero
    // CFFILE b.txt
    0x18, 0x00, 0x00, 0x00,  // 0x4A cbFile: 24
    0x00, 0x00, 0x00, 0x00,  // 0x4E uoffFolderStart: its folder's stream starts with it
    0x01, 0x00,              // 0x52 iFolder 1
    0x5D, 0x50,              // 0x54 date
    0x7D, 0xBF,              // 0x56 time
    0x20, 0x00,              // 0x58 attribs
    'b', '.', 't', 'x', 't', 0x00, // 0x5A szName
    // CFDATA of folder 0. csum: the payload's little-endian words XORed ("Hell" ^
    // "o, c" ^ "abin" ^ "et!\n" = 0x6C6C6548 ^ 0x63202C6F ^ 0x6E696261 ^ 0x0A217465 =
    // 0x6B045F23), then cbData and cbUncomp as one more word (0x00100010): 0x6B145F33.
    0x33, 0x5F, 0x14, 0x6B,  // 0x60 csum
    0x10, 0x00,              // 0x64 cbData: 16
    0x10, 0x00,              // 0x66 cbUncomp: 16
    'H', 'e', 'l', 'l', 'o', ',', ' ', 'c', 'a', 'b', 'i', 'n', 'e', 't', '!', '\n',
    // CFDATA of folder 1. csum over "CK" and the 13 deflate bytes: three whole words
    // XORed, the last three bytes (A5 B9 00) folded in as 0x00A5B900, the first of them
    // highest, as the format document's tail rule has it (0xA18EF0C7); then cbData and
    // cbUncomp as the word 0x0018000F: 0xA196F0C8.
    0xC8, 0xF0, 0x96, 0xA1,  // 0x78 csum
    0x0F, 0x00,              // 0x7C cbData: 15, "CK" and 13 deflate bytes
    0x18, 0x00,              // 0x7E cbUncomp: 24
    'C', 'K',                // 0x80 MSZIP's block signature
    0xCB, 0xCF, 0x4B, 0x55, 0x28, 0x29, 0xCF, 0x57, 0xC8, 0x47, 0xA5, 0xB9, 0x00,
};
// clang-format on

std::string inflated(const std::vector<std::uint8_t>& deflated) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return "(inflateInit2 failed)";
    }
    std::vector<std::uint8_t> input = deflated;
    std::string out(256, '\0');
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return rc == Z_STREAM_END ? out : "(inflate: " + std::to_string(rc) + ")";
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(GoldenBytes, TheDeflatePinIsMszipsBlockOfTheText) {
    EXPECT_EQ(inflated(kDeflateBytes), kDeflatedText);
    std::vector<std::uint8_t> tail(kGolden.end() - kDeflateBytes.size(), kGolden.end());
    EXPECT_EQ(tail, kDeflateBytes);
}

TEST(GoldenBytes, AStoredAndAnMszipFileGiveExactlyTheseBytes) {
    FciClient client{scratchFor("golden")};
    for (const auto& [source, text] : {std::pair{"gen:a", kStoredText}, {"gen:b", kDeflatedText}}) {
        client.generated[source] = {text.size(),
                                    [text](std::uint64_t offset, std::uint8_t* out, std::size_t n) {
                                        std::memcpy(out, text.data() + offset, n);
                                    }};
    }
    CCAB ccab = client.cabinet("golden.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(client.add(h, "gen:a", "a.txt", tcompTYPE_NONE));
    ASSERT_TRUE(client.add(h, "gen:b", "b.txt", tcompTYPE_MSZIP));
    ASSERT_TRUE(client.flushCabinet(h));
    ASSERT_TRUE(FCIDestroy(h));

    std::vector<std::uint8_t> written = readBytes(client.path("golden.cab"));
    ASSERT_EQ(written.size(), kGolden.size());
    for (std::size_t at = 0; at < kGolden.size(); ++at) {
        ASSERT_EQ(unsigned(written[at]), unsigned(kGolden[at])) << "first difference at " << at;
    }

    // The pinned bytes are a cabinet a decoder we did not write takes, checksums included.
    Expected expected = {{"a.txt", bytesOf(kStoredText)}, {"b.txt", bytesOf(kDeflatedText)}};
    EXPECT_EQ(checkWithAllDecoders(client.path("golden.cab"), expected), "");
    client.expectNothingLeft();
}

} // namespace
