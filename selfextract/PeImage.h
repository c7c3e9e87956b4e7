// The parts of a PE32 or PE32+ image (Microsoft PE/COFF specification) that a
// resource update reads and rewrites: headers, section table, data directories.
#pragma once

#include "selfextract/ImageBytes.h"
#include "selfextract/ResourceDirectory.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kp::platform {

struct PeSection {
    std::string name; // up to 8 bytes, without the zero padding
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawPointer = 0;
    std::uint32_t characteristics = 0;

    // The first address past the section in memory, before alignment.
    std::uint64_t virtualEnd() const {
        return std::uint64_t{virtualAddress} + std::max(virtualSize, rawSize);
    }
    std::uint64_t rawEnd() const { return rawSize ? std::uint64_t{rawPointer} + rawSize : 0; }
};

struct PeLayout {
    bool pe32Plus = false;
    std::uint32_t coffHeader = 0;     // file offset of the COFF file header
    std::uint32_t optionalHeader = 0; // file offset of the optional header
    std::uint32_t sectionTable = 0;   // file offset of the section table
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t dataDirectories = 0; // file offset of the first data directory
    std::uint32_t dataDirectoryCount = 0;
    std::vector<PeSection> sections;

    // The first file offset past the headers and every section's raw data: where data
    // appended to the image (an overlay, a signature) begins.
    std::uint64_t overlayStart() const;
};

enum : std::uint32_t {
    kDirectoryResource = 2,
    kDirectoryCertificate = 4,
    kDirectoryBoundImport = 11,
};

// Throws ImageError (bad executable format) unless `file` is a PE32 or PE32+ image
// whose headers and section table lie inside it.
PeLayout readPeLayout(ImageBytes file);

// The image's resources; none when it has no resource directory.
std::vector<Resource> readPeResources(ImageBytes file, const PeLayout& layout);

// The whole file again with `resources` in a resource section placed last: the old
// section is replaced when it is already last, otherwise a new one is appended and
// the old one left unused. Sizes, the resource directory and the checksum follow the
// change; a certificate table is dropped, since its signature no longer holds; data
// after the last section is kept behind the new one.
std::vector<std::uint8_t> rebuildPeImage(ImageBytes file, const PeLayout& layout,
                                         const std::vector<Resource>& resources);

// An image laid out as rebuildPeImage lays it out, in parts for a writer that streams
// the data of one resource: `head`, then the `streamedSize` bytes of that resource,
// then `tail`. The checksum field (at `checksumField`, inside the head) is left zero.
struct PeImagePlan {
    std::vector<std::uint8_t> head;
    std::uint64_t streamedSize = 0;
    std::vector<std::uint8_t> tail;
    std::size_t checksumField = 0;
};

// `streamed`, when not null, is the element of `resources` whose data the caller
// writes (its own `data` is not used): `streamedSize` bytes, last in the section. With
// none, `head` is the whole image.
PeImagePlan planPeImage(ImageBytes file, const PeLayout& layout,
                        const std::vector<Resource>& resources, const Resource* streamed = nullptr,
                        std::uint64_t streamedSize = 0);

// The image checksum summed piece by piece over a file written front to back; the
// checksum field itself must be zero in what is added.
class PeChecksum {
public:
    void add(const std::uint8_t* bytes, std::size_t size);
    std::uint32_t value() const;

private:
    std::uint64_t sum = 0; // unfolded: 2^47 words cannot overflow it
    std::uint64_t total = 0;
    bool odd = false; // the next byte is the high half of a word
};

// The image checksum over `size` bytes, the 4 bytes at `checksumField` counted as zero.
std::uint32_t peChecksum(const std::uint8_t* bytes, std::size_t size, std::size_t checksumField);

} // namespace kp::platform
