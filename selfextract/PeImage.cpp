#include "selfextract/PeImage.h"

#include "platform/LastError.h"

#include <limits>

namespace kp::platform {
namespace {

constexpr std::uint16_t kMzSignature = 0x5A4D;
constexpr std::uint32_t kPeSignature = 0x00004550;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kMaxFileAlignment = 0x10000;
constexpr std::uint32_t kResourceSectionCharacteristics = 0x40000040; // initialized data, read

// Field offsets, from the start of their header.
enum : std::uint32_t {
    kDosNewHeader = 0x3C,
    kCoffNumberOfSections = 2,
    kCoffPointerToSymbolTable = 8,
    kCoffSizeOfOptionalHeader = 16,
    kCoffHeaderSize = 20,
    kOptSizeOfInitializedData = 8,
    kOptSectionAlignment = 32,
    kOptFileAlignment = 36,
    kOptSizeOfImage = 56,
    kOptSizeOfHeaders = 60,
    kOptCheckSum = 64,
    kOpt32NumberOfRvaAndSizes = 92,
    kOpt32DataDirectories = 96,
    kOpt64NumberOfRvaAndSizes = 108,
    kOpt64DataDirectories = 112,
    kSectionVirtualSize = 8,
    kSectionVirtualAddress = 12,
    kSectionSizeOfRawData = 16,
    kSectionPointerToRawData = 20,
    kSectionCharacteristics = 36,
};

bool isPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

struct DataDirectory {
    std::uint32_t address = 0; // an RVA; for the certificate table, a file offset
    std::uint32_t size = 0;
};

DataDirectory dataDirectory(ImageBytes file, const PeLayout& layout, std::uint32_t index) {
    if (index >= layout.dataDirectoryCount) {
        return {};
    }
    std::uint64_t entry = layout.dataDirectories + 8ull * index;
    return {file.u32(entry), file.u32(entry + 4)};
}

// The section whose raw data holds `size` bytes at `rva`, or null.
const PeSection* sectionHolding(const PeLayout& layout, std::uint32_t rva, std::uint64_t size) {
    for (const PeSection& section : layout.sections) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress <= section.rawSize &&
            size <= section.rawSize - (rva - section.virtualAddress)) {
            return &section;
        }
    }
    return nullptr;
}

ImageBytes bytesAtRva(ImageBytes file, const PeLayout& layout, std::uint32_t rva,
                      std::uint32_t size) {
    if (size == 0) {
        return {};
    }
    const PeSection* section = sectionHolding(layout, rva, size);
    if (!section) {
        malformedImage("resource data outside every section");
    }
    return file.slice(std::uint64_t{section->rawPointer} + (rva - section->virtualAddress), size);
}

// The existing resource section, when it is last both in memory and in the file, so
// that the rebuilt one can take its place; -1 otherwise.
int replaceableResourceSection(ImageBytes file, const PeLayout& layout) {
    DataDirectory resources = dataDirectory(file, layout, kDirectoryResource);
    for (std::size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& candidate = layout.sections[i];
        if (candidate.name != ".rsrc" || candidate.virtualAddress != resources.address ||
            resources.address == 0) {
            continue;
        }
        bool last = true;
        for (std::size_t j = 0; j < layout.sections.size(); ++j) {
            const PeSection& other = layout.sections[j];
            if (j != i && (other.virtualAddress >= candidate.virtualAddress ||
                           other.rawEnd() > candidate.rawPointer)) {
                last = false;
            }
        }
        return last ? static_cast<int>(i) : -1;
    }
    return -1;
}

void copyRange(std::vector<std::uint8_t>& out, ImageBytes file, std::uint64_t from,
               std::uint64_t to) {
    if (to > from) {
        ImageBytes part = file.slice(from, to - from);
        out.insert(out.end(), part.data(), part.data() + part.size());
    }
}

} // namespace

std::uint64_t PeLayout::overlayStart() const {
    std::uint64_t end = sizeOfHeaders;
    for (const PeSection& section : sections) {
        end = std::max(end, section.rawEnd());
    }
    return end;
}

PeLayout readPeLayout(ImageBytes file) {
    if (file.size() < 0x40 || file.u16(0) != kMzSignature) {
        malformedImage("no MZ header");
    }
    std::uint32_t peHeader = file.u32(kDosNewHeader);
    if (file.u32(peHeader) != kPeSignature) {
        malformedImage("no PE signature");
    }
    PeLayout layout;
    layout.coffHeader = peHeader + 4;
    std::uint32_t sectionCount = file.u16(layout.coffHeader + kCoffNumberOfSections);
    std::uint32_t optionalSize = file.u16(layout.coffHeader + kCoffSizeOfOptionalHeader);
    layout.optionalHeader = layout.coffHeader + kCoffHeaderSize;
    ImageBytes optional = file.slice(layout.optionalHeader, optionalSize);
    std::uint16_t magic = optional.u16(0);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        malformedImage("neither PE32 nor PE32+");
    }
    layout.pe32Plus = magic == kPe32PlusMagic;
    std::uint32_t directoriesAt = layout.pe32Plus ? kOpt64DataDirectories : kOpt32DataDirectories;
    std::uint32_t rvaCount =
        optional.u32(layout.pe32Plus ? kOpt64NumberOfRvaAndSizes : kOpt32NumberOfRvaAndSizes);
    if (optionalSize < directoriesAt) {
        malformedImage("optional header too short");
    }
    layout.dataDirectories = layout.optionalHeader + directoriesAt;
    layout.dataDirectoryCount = std::min(rvaCount, (optionalSize - directoriesAt) / 8);
    layout.sectionAlignment = optional.u32(kOptSectionAlignment);
    layout.fileAlignment = optional.u32(kOptFileAlignment);
    layout.sizeOfHeaders = optional.u32(kOptSizeOfHeaders);
    if (!isPowerOfTwo(layout.fileAlignment) || !isPowerOfTwo(layout.sectionAlignment) ||
        layout.fileAlignment > kMaxFileAlignment ||
        layout.sectionAlignment < layout.fileAlignment) {
        malformedImage("alignment not a power of two");
    }
    if (layout.sizeOfHeaders > file.size()) {
        malformedImage("headers larger than the file");
    }
    layout.sectionTable = layout.optionalHeader + optionalSize;
    // Everything up to the section table's end is header; an image claiming less would
    // have its own headers taken for data behind the sections.
    if (layout.sizeOfHeaders <
        layout.sectionTable + std::uint64_t{sectionCount} * kSectionHeaderSize) {
        malformedImage("headers larger than SizeOfHeaders says");
    }
    ImageBytes table =
        file.slice(layout.sectionTable, std::uint64_t{sectionCount} * kSectionHeaderSize);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        ImageBytes header = table.slice(std::uint64_t{i} * kSectionHeaderSize, kSectionHeaderSize);
        PeSection section;
        for (int c = 0; c < 8 && header.u8(c) != 0; ++c) {
            section.name.push_back(static_cast<char>(header.u8(c)));
        }
        section.virtualSize = header.u32(kSectionVirtualSize);
        section.virtualAddress = header.u32(kSectionVirtualAddress);
        section.rawSize = header.u32(kSectionSizeOfRawData);
        section.rawPointer = header.u32(kSectionPointerToRawData);
        section.characteristics = header.u32(kSectionCharacteristics);
        if (section.rawSize != 0) {
            file.slice(section.rawPointer, section.rawSize);
        }
        layout.sections.push_back(section);
    }
    return layout;
}

std::vector<Resource> readPeResources(ImageBytes file, const PeLayout& layout) {
    DataDirectory directory = dataDirectory(file, layout, kDirectoryResource);
    if (directory.address == 0) {
        return {};
    }
    const PeSection* section = sectionHolding(layout, directory.address, 16);
    if (!section) {
        malformedImage("resource directory outside every section");
    }
    std::uint32_t into = directory.address - section->virtualAddress;
    ImageBytes tree =
        file.slice(std::uint64_t{section->rawPointer} + into, section->rawSize - into);
    return readResourceDirectory(
        tree,
        [&](std::uint32_t rva, std::uint32_t size) { return bytesAtRva(file, layout, rva, size); },
        file.size());
}

PeImagePlan planPeImage(ImageBytes file, const PeLayout& layout,
                        const std::vector<Resource>& resources, const Resource* streamed,
                        std::uint64_t streamedSize) {
    if (layout.dataDirectoryCount <= kDirectoryResource) {
        throw ImageError(kErrorNotSupported, "no resource directory entry");
    }
    const int replaced = replaceableResourceSection(file, layout);
    const std::size_t oldCount = layout.sections.size();
    const std::size_t newIndex = replaced >= 0 ? static_cast<std::size_t>(replaced) : oldCount;
    const std::size_t newCount = replaced >= 0 ? oldCount : oldCount + 1;
    if (newCount > std::numeric_limits<std::uint16_t>::max()) {
        throw ImageError(kErrorNotSupported, "too many sections");
    }

    // Where the other sections end, in the file and in memory.
    std::uint64_t rawEnd = layout.sizeOfHeaders;
    std::uint64_t virtualEnd = alignUp(layout.sizeOfHeaders, layout.sectionAlignment);
    std::uint64_t firstRaw = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t firstVirtual = std::numeric_limits<std::uint64_t>::max();
    std::uint32_t replacedRawSize = 0;
    for (std::size_t i = 0; i < oldCount; ++i) {
        const PeSection& section = layout.sections[i];
        if (i == newIndex) {
            replacedRawSize = section.rawSize;
            continue;
        }
        rawEnd = std::max(rawEnd, section.rawEnd());
        virtualEnd = std::max(virtualEnd, section.virtualEnd());
        firstVirtual = std::min<std::uint64_t>(firstVirtual, section.virtualAddress);
        if (section.rawSize) {
            firstRaw = std::min<std::uint64_t>(firstRaw, section.rawPointer);
        }
    }

    // A new section header may need the headers to grow into the padding before the
    // first section.
    std::uint64_t sizeOfHeaders = layout.sizeOfHeaders;
    const std::uint64_t tableEnd =
        layout.sectionTable + std::uint64_t{newCount} * kSectionHeaderSize;
    if (tableEnd > sizeOfHeaders) {
        sizeOfHeaders = alignUp(tableEnd, layout.fileAlignment);
        if (sizeOfHeaders > firstRaw || sizeOfHeaders > firstVirtual) {
            throw ImageError(kErrorNotSupported, "no room for another section header");
        }
        rawEnd = std::max(rawEnd, sizeOfHeaders);
        virtualEnd = std::max(virtualEnd, alignUp(sizeOfHeaders, layout.sectionAlignment));
    }

    const std::uint64_t rawStart = alignUp(rawEnd, layout.fileAlignment);
    const std::uint64_t virtualStart = alignUp(virtualEnd, layout.sectionAlignment);
    if (virtualStart > std::numeric_limits<std::uint32_t>::max()) {
        throw ImageError(kErrorFileTooLarge, "image too large");
    }
    // Data after the sections moves behind the new one, less a certificate table.
    const std::uint64_t overlayStart = layout.overlayStart();
    DataDirectory certificate = dataDirectory(file, layout, kDirectoryCertificate);
    std::uint64_t cutFrom = file.size();
    std::uint64_t cutTo = file.size();
    if (certificate.size != 0 && certificate.address >= overlayStart &&
        file.contains(certificate.address, certificate.size)) {
        cutFrom = certificate.address;
        cutTo = std::uint64_t{certificate.address} + certificate.size;
    }
    const std::uint64_t overlaySize =
        file.size() - std::min<std::uint64_t>(overlayStart, file.size()) - (cutTo - cutFrom);

    PeImagePlan plan;
    std::vector<std::uint8_t>& out = plan.head;
    copyRange(out, file, 0, std::min({rawStart, overlayStart, std::uint64_t{file.size()}}));
    out.resize(rawStart, 0);
    // Room for the padding and the overlay too, so that the section is copied once.
    const std::uint64_t sectionSize = appendStreamedResourceDirectory(
        resources, static_cast<std::uint32_t>(virtualStart), out, streamed, streamedSize,
        streamed ? 0 : layout.fileAlignment + overlaySize);
    const std::uint64_t rawSize = alignUp(sectionSize, layout.fileAlignment);
    const std::uint64_t sizeOfImage = alignUp(virtualStart + sectionSize, layout.sectionAlignment);
    if (sizeOfImage > std::numeric_limits<std::uint32_t>::max() ||
        rawStart + rawSize > std::numeric_limits<std::uint32_t>::max()) {
        throw ImageError(kErrorFileTooLarge, "image too large");
    }
    const std::uint64_t newOverlay = rawStart + rawSize;
    // Behind streamed data, the padding and the overlay go to the tail.
    std::vector<std::uint8_t>& after = streamed ? plan.tail : out;
    plan.streamedSize = streamed ? streamedSize : 0;
    after.resize(after.size() + (newOverlay - rawStart - sectionSize), 0);
    copyRange(after, file, std::min<std::uint64_t>(overlayStart, file.size()), cutFrom);
    copyRange(after, file, cutTo, file.size());

    // The headers describe the new layout.
    const std::uint32_t coff = layout.coffHeader;
    const std::uint32_t optional = layout.optionalHeader;
    put16(out, coff + kCoffNumberOfSections, static_cast<std::uint16_t>(newCount));
    auto movedOffset = [&](std::uint64_t offset) -> std::uint64_t {
        if (offset < overlayStart || offset >= file.size() ||
            (offset >= cutFrom && offset < cutTo)) {
            return offset < overlayStart ? offset : 0;
        }
        return newOverlay + (offset - overlayStart) - (offset >= cutTo ? cutTo - cutFrom : 0);
    };
    std::uint32_t symbols = file.u32(coff + kCoffPointerToSymbolTable);
    if (symbols != 0) {
        put32(out, coff + kCoffPointerToSymbolTable,
              static_cast<std::uint32_t>(movedOffset(symbols)));
    }
    std::size_t header = layout.sectionTable + newIndex * kSectionHeaderSize;
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(header), kSectionHeaderSize, 0);
    const char name[] = ".rsrc";
    std::copy(name, name + 5, out.begin() + static_cast<std::ptrdiff_t>(header));
    put32(out, header + kSectionVirtualSize, static_cast<std::uint32_t>(sectionSize));
    put32(out, header + kSectionVirtualAddress, static_cast<std::uint32_t>(virtualStart));
    put32(out, header + kSectionSizeOfRawData, static_cast<std::uint32_t>(rawSize));
    put32(out, header + kSectionPointerToRawData, static_cast<std::uint32_t>(rawStart));
    put32(out, header + kSectionCharacteristics, kResourceSectionCharacteristics);

    std::uint32_t initialized = file.u32(optional + kOptSizeOfInitializedData);
    initialized = initialized > replacedRawSize ? initialized - replacedRawSize : 0;
    std::uint64_t grown = std::uint64_t{initialized} + rawSize;
    put32(out, optional + kOptSizeOfInitializedData,
          static_cast<std::uint32_t>(
              std::min<std::uint64_t>(grown, std::numeric_limits<std::uint32_t>::max())));
    put32(out, optional + kOptSizeOfImage, static_cast<std::uint32_t>(sizeOfImage));
    put32(out, optional + kOptSizeOfHeaders, static_cast<std::uint32_t>(sizeOfHeaders));

    auto setDirectory = [&](std::uint32_t index, std::uint32_t address, std::uint32_t size) {
        if (index < layout.dataDirectoryCount) {
            put32(out, layout.dataDirectories + 8 * index, address);
            put32(out, layout.dataDirectories + 8 * index + 4, size);
        }
    };
    setDirectory(kDirectoryResource, static_cast<std::uint32_t>(virtualStart),
                 static_cast<std::uint32_t>(sectionSize));
    setDirectory(kDirectoryCertificate, 0, 0);
    DataDirectory bound = dataDirectory(file, layout, kDirectoryBoundImport);
    std::uint64_t oldTableEnd = layout.sectionTable + std::uint64_t{oldCount} * kSectionHeaderSize;
    if (bound.size != 0 && bound.address < tableEnd &&
        bound.address + std::uint64_t{bound.size} > oldTableEnd) {
        setDirectory(kDirectoryBoundImport, 0, 0); // overwritten by the new section header
    }

    plan.checksumField = optional + kOptCheckSum;
    put32(out, plan.checksumField, 0);
    return plan;
}

std::vector<std::uint8_t> rebuildPeImage(ImageBytes file, const PeLayout& layout,
                                         const std::vector<Resource>& resources) {
    PeImagePlan plan = planPeImage(file, layout, resources);
    std::vector<std::uint8_t>& out = plan.head;
    put32(out, plan.checksumField, peChecksum(out.data(), out.size(), plan.checksumField));
    return std::move(out);
}

void PeChecksum::add(const std::uint8_t* bytes, std::size_t size) {
    std::size_t i = 0;
    if (odd && size > 0) {
        sum += std::uint64_t{bytes[0]} << 8;
        i = 1;
    }
    for (; i + 1 < size; i += 2) {
        sum += bytes[i] | static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    }
    if (i < size) {
        sum += bytes[i];
    }
    total += size;
    odd = (total & 1) != 0;
}

std::uint32_t PeChecksum::value() const {
    std::uint64_t folded = sum;
    while (folded >> 16) {
        folded = (folded & 0xFFFF) + (folded >> 16);
    }
    return static_cast<std::uint32_t>(folded + total);
}

std::uint32_t peChecksum(const std::uint8_t* bytes, std::size_t size, std::size_t checksumField) {
    // Summed without folding (50 million words cannot overflow 64 bits), which gives
    // the same result as the one's-complement fold after every word.
    auto wordAt = [&](std::size_t i, bool skipField) -> std::uint64_t {
        auto byte = [&](std::size_t k) -> std::uint64_t {
            bool inField = k >= checksumField && k - checksumField < 4;
            return k < size && !(skipField && inField) ? bytes[k] : 0;
        };
        return byte(i) | byte(i + 1) << 8;
    };
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) {
        sum += bytes[i] | static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    }
    if (i < size) {
        sum += bytes[i];
    }
    // The field counts as zero: take back the words it touches, add them without it.
    for (std::size_t word = checksumField & ~std::size_t{1};
         word < checksumField + 4 && word < size; word += 2) {
        sum = sum - wordAt(word, false) + wordAt(word, true);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + size);
}

} // namespace kp::platform
