// The cabinet under construction: places closed folders into it, splits a folder
// across cabinets when the size limit is reached, and writes cabinet files.
//
// Readers of cabinet sets (libmspack's merge in particular) expect a folder that
// continues into the next cabinet to end with a CFDATA block split in two (the
// first part with an uncompressed size of 0), and expect every file of that folder
// from the split on to be listed in every cabinet the folder reaches: in the first
// as continued to the next, in the others as continued from the previous (and to
// the next, where the folder goes on). We write exactly that.
#include <cstring>
#include <initializer_list>
#include <limits>

#include "cabinet_assembler.h"

namespace kp::cab {
namespace {

bool hasReserve(const Context& c) {
    return c.headerReserve || c.folderReserve || c.dataReserve;
}

// Readers reject empty names in the header's set links, so a disk without a name
// is announced under its cabinet's name.
const char* diskLabel(const char* disk, const char* cab) {
    return disk[0] ? disk : cab;
}

std::uint32_t namesSize(const char* cab, const char* disk) {
    return std::uint32_t(std::strlen(cab) + 1 + std::strlen(diskLabel(disk, cab)) + 1);
}

std::uint32_t fixedHeaderSize(const Context& c) {
    return cfheader::kSize + (hasReserve(c) ? cfreserve::kSize + c.headerReserve : 0);
}

std::uint32_t folderEntrySize(const Context& c) {
    return cffolder::kSize + c.folderReserve;
}

bool addFolder(Context& c, std::uint32_t dataOffset, TCOMP type) {
    if (c.folderCount >= kMaxFoldersPerCabinet) {
        return c.breakWith(FCIERR_CAB_FORMAT_LIMIT);
    }
    if (c.folderCount == c.folderCapacity) {
        std::uint32_t capacity = c.folderCapacity ? c.folderCapacity * 2 : 16;
        auto* grown = static_cast<FolderEntry*>(c.io.allocate(capacity * sizeof(FolderEntry)));
        if (!grown) {
            return c.breakWith(FCIERR_ALLOC_FAIL);
        }
        if (c.folderCount) {
            std::memcpy(grown, c.folders, c.folderCount * sizeof(FolderEntry));
        }
        c.io.release(c.folders);
        c.folders = grown;
        c.folderCapacity = capacity;
    }
    c.folders[c.folderCount++] = FolderEntry{dataOffset, 0, type};
    return true;
}

// Appends one CFDATA record to the cabinet's data. `inPlace` says that the record
// as it stands already lies just past the data's end, so taking it costs no I/O.
bool appendDataRecord(Context& c, const std::uint8_t* payload, std::uint32_t size,
                      std::uint32_t uncompressed, bool inPlace = false) {
    if (inPlace) {
        c.cabData.adopt(c.dataRecordSize(size));
        ++c.folders[c.folderCount - 1].blocks;
        return true;
    }
    std::uint8_t header[cfdata::kSize + kMaxFolderOrDataReserve];
    encodeDataHeader(header, c.dataReserve, payload, size, uncompressed);
    int err = 0;
    if (!c.cabData.append(c.io, header, c.dataRecordSize(0), err) ||
        !c.cabData.append(c.io, payload, size, err)) {
        return c.breakWith(FCIERR_TEMP_FILE, err);
    }
    ++c.folders[c.folderCount - 1].blocks;
    return true;
}

// Where the listing of the next part of a split folder starts in the folder's file list.
struct PartListing {
    std::uint32_t part = 0;
    std::uint32_t firstRecord = 0; // byte offset in the folder's file list
};

// Whether a file of `size` bytes starting at uncompressed offset `start` of its folder
// has bytes at or after `splitAt`; an empty file, whether it starts there.
bool touches(std::uint32_t start, std::uint32_t size, std::uint32_t splitAt) {
    return size ? start + size > splitAt : start >= splitAt;
}

// Lists the files of the folder's current part in the cabinet. With `split`, the
// part ends in a block that starts at uncompressed offset `splitAt` and continues
// in the next cabinet.
bool listPart(Context& c, PartListing& listing, bool split, std::uint32_t splitAt) {
    std::uint32_t folderIndex = c.folderCount - 1;
    std::uint32_t next = listing.firstRecord;
    bool nextFound = false;
    std::uint32_t offset = listing.firstRecord;
    std::uint8_t record[kFileRecordPrefix + cffile::kSize + CB_MAX_FILENAME];
    std::uint8_t* entry = record + kFileRecordPrefix;
    char* name = reinterpret_cast<char*>(entry + cffile::kSize);
    int err = 0;
    while (offset < c.folderFiles.size()) {
        if (!c.folderFiles.readAt(c.io, offset, record, kFileRecordPrefix + cffile::kSize, err)) {
            return c.breakWith(FCIERR_TEMP_FILE, err);
        }
        std::uint32_t nameSize = getU16(record) + 1;
        if (!c.folderFiles.readAt(c.io, offset + kFileRecordPrefix + cffile::kSize,
                                  entry + cffile::kSize, nameSize, err)) {
            return c.breakWith(FCIERR_TEMP_FILE, err);
        }
        std::uint32_t size = getU32(entry + cffile::kUncompressedSize);
        std::uint32_t start = getU32(entry + cffile::kFolderOffset);
        bool continuesToNext = split && touches(start, size, splitAt);
        bool continuedFromPrev = listing.part > 0;
        std::uint32_t iFolder = folderIndex;
        if (continuesToNext) {
            iFolder = continuedFromPrev ? kFolderContinuedPrevAndNext : kFolderContinuedToNext;
            if (!nextFound) {
                next = offset;
                nextFound = true;
            }
        } else if (continuedFromPrev) {
            iFolder = kFolderContinuedFromPrev;
        }
        putU16(entry + cffile::kFolderIndex, iFolder);
        if (c.cabFileCount >= kMaxFilesPerCabinet) {
            return c.breakWith(FCIERR_CAB_FORMAT_LIMIT);
        }
        if (!c.cabFiles.append(c.io, entry, cffile::kSize + nameSize, err)) {
            return c.breakWith(FCIERR_TEMP_FILE, err);
        }
        ++c.cabFileCount;
        if (c.io.filePlaced &&
            c.io.filePlaced(&c.ccab, name, long(size), continuedFromPrev, c.io.pv) == -1) {
            return c.breakWith(FCIERR_USER_ABORT);
        }
        offset += kFileRecordPrefix + cffile::kSize + nameSize;
    }
    // Every later cabinet the folder reaches lists the same files as continued,
    // from the first split on: readers join a folder's parts only when both sides
    // list the same files, whichever of them still has data there.
    if (listing.part == 0) {
        listing.firstRecord = next;
    }
    listing.part += 1;
    return true;
}

// Where the parts of the cabinet under construction start in its file.
struct CabinetLayout {
    std::uint32_t headerSize; // CFHEADER, its reserve and the names of the linked cabinets
    std::uint32_t filesStart;
    std::uint32_t dataStart;
    std::uint64_t total;
};

// The layout with a link to the next cabinet when `nextCab` is given.
CabinetLayout layoutOf(const Context& c, const char* nextCab, const char* nextDisk) {
    CabinetLayout layout{};
    layout.headerSize = fixedHeaderSize(c);
    if (c.hasPrev) {
        layout.headerSize += namesSize(c.prevCab, c.prevDisk);
    }
    if (nextCab) {
        layout.headerSize += namesSize(nextCab, nextDisk);
    }
    layout.filesStart = layout.headerSize + c.folderCount * folderEntrySize(c);
    layout.dataStart = layout.filesStart + c.cabFiles.size();
    layout.total = std::uint64_t(layout.dataStart) + c.cabData.size();
    return layout;
}

// Fills `h`, which holds layout.headerSize bytes, with CFHEADER, its reserve fields
// and area, and the names of the linked cabinets.
void encodeHeader(const Context& c, const CabinetLayout& layout, const char* nextCab,
                  const char* nextDisk, std::uint8_t* h) {
    std::memset(h, 0, layout.headerSize);
    std::memcpy(h + cfheader::kSignature, "MSCF", 4);
    putU32(h + cfheader::kCabinetSize, std::uint32_t(layout.total));
    putU32(h + cfheader::kFilesOffset, layout.filesStart);
    h[cfheader::kVersionMinor] = kVersionMinor;
    h[cfheader::kVersionMajor] = kVersionMajor;
    putU16(h + cfheader::kFolderCount, c.folderCount);
    putU16(h + cfheader::kFileCount, c.cabFileCount);
    std::uint32_t flags = (c.hasPrev ? kFlagPrevCabinet : 0) | (nextCab ? kFlagNextCabinet : 0) |
                          (hasReserve(c) ? kFlagReservePresent : 0);
    putU16(h + cfheader::kFlags, flags);
    putU16(h + cfheader::kSetId, c.ccab.setID);
    putU16(h + cfheader::kCabinetIndex, c.setIndex);
    std::uint8_t* p = h + cfheader::kSize;
    if (hasReserve(c)) {
        putU16(p + cfreserve::kHeaderReserve, c.headerReserve);
        p[cfreserve::kFolderReserve] = std::uint8_t(c.folderReserve);
        p[cfreserve::kDataReserve] = std::uint8_t(c.dataReserve);
        p += cfreserve::kSize + c.headerReserve;
    }
    auto putName = [&p](const char* s) {
        std::size_t n = std::strlen(s) + 1;
        std::memcpy(p, s, n);
        p += n;
    };
    if (c.hasPrev) {
        putName(c.prevCab);
        putName(diskLabel(c.prevDisk, c.prevCab));
    }
    if (nextCab) {
        putName(nextCab);
        putName(diskLabel(nextDisk, nextCab));
    }
}

bool writeAll(Context& c, INT_PTR hf, const void* data, std::uint32_t size, int& err) {
    return c.io.write(hf, const_cast<void*>(data), size, &err, c.io.pv) == size;
}

// Writes what follows the header: the CFFOLDERs, then the CFFILEs and CFDATAs copied
// from their temporary files. `oper` says which side failed.
bool writeBody(Context& c, INT_PTR hf, const CabinetLayout& layout, int& oper, int& err) {
    for (std::uint32_t i = 0; i < c.folderCount; ++i) {
        std::uint8_t entry[cffolder::kSize + kMaxFolderOrDataReserve] = {};
        putU32(entry + cffolder::kDataOffset, layout.dataStart + c.folders[i].dataOffset);
        putU16(entry + cffolder::kBlockCount, c.folders[i].blocks);
        putU16(entry + cffolder::kCompressionType, c.folders[i].typeCompress);
        if (!writeAll(c, hf, entry, folderEntrySize(c), err)) {
            return false;
        }
    }
    for (TempFile* part : {&c.cabFiles, &c.cabData}) {
        for (std::uint32_t done = 0; done < part->size();) {
            std::uint32_t chunk = part->size() - done;
            if (chunk > kCopyBufferSize) {
                chunk = kCopyBufferSize;
            }
            if (!part->readAt(c.io, done, c.copyBuffer, chunk, err)) {
                oper = FCIERR_TEMP_FILE;
                return false;
            }
            if (!writeAll(c, hf, c.copyBuffer, chunk, err)) {
                return false;
            }
            done += chunk;
            // A cabinet of a stored gigabyte takes seconds to copy: the client may stop
            // it between chunks, as it may between a folder's blocks.
            if (part == &c.cabData && c.status &&
                c.status(statusFolder, done, part->size(), c.io.pv) == -1) {
                oper = FCIERR_USER_ABORT;
                err = 0;
                return false;
            }
        }
    }
    return true;
}

// Writes the cabinet under construction, with a link to the next cabinet when
// `nextCab` is given. A failure deletes whatever was written and leaves the
// cabinet pending.
bool writeCabinet(Context& c, const char* nextCab, const char* nextDisk) {
    CabinetLayout layout = layoutOf(c, nextCab, nextDisk);
    if (layout.total > kMaxCabinetBytes) {
        return c.fail(FCIERR_CAB_FORMAT_LIMIT);
    }
    if (c.status &&
        c.status(statusCabinet, ULONG(layout.total), ULONG(layout.total), c.io.pv) == -1) {
        return c.fail(FCIERR_USER_ABORT);
    }
    // The copy buffer is free between calls and holds the largest header.
    static_assert(kCopyBufferSize >= cfheader::kSize + cfreserve::kSize + kMaxHeaderReserve +
                                         2 * (CB_MAX_CABINET_NAME + CB_MAX_DISK_NAME));
    encodeHeader(c, layout, nextCab, nextDisk, c.copyBuffer);

    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    std::strcpy(path, c.ccab.szCabPath);
    std::strcat(path, c.ccab.szCab);
    int err = 0;
    INT_PTR hf = c.io.open(path, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE,
                           &err, c.io.pv);
    if (hf == kNoHandle) {
        return c.fail(FCIERR_CAB_FILE, err);
    }
    int oper = FCIERR_CAB_FILE;
    bool ok = writeAll(c, hf, c.copyBuffer, layout.headerSize, err) &&
              writeBody(c, hf, layout, oper, err);
    int closeErr = 0;
    if (c.io.close(hf, &closeErr, c.io.pv) != 0 && ok) {
        ok = false;
        err = closeErr;
    }
    if (!ok) {
        int ignored = 0;
        c.io.remove(path, &ignored, c.io.pv);
        return c.fail(oper, err);
    }
    return true;
}

void resetCabinet(Context& c) {
    c.cabData.clear();
    c.cabFiles.clear();
    c.folderCount = 0;
    c.cabFileCount = 0;
}

// Appends one CFDATA block of the folder being placed, splitting it across cabinets
// while the current one has no room for the rest. `last` says that no block of the
// folder follows, so no room need be kept for the next one's header; `recordAt` is
// where the block's record lies in the cabinet data's file.
bool placeBlock(Context& c, PartListing& listing, const std::uint8_t* payload, std::uint32_t size,
                std::uint32_t uncompressed, std::uint32_t uncompressedAt, bool last,
                std::uint64_t recordAt) {
    const std::int64_t recordHeader = c.dataRecordSize(0);
    // Room left for data records, keeping space for the folder's file records (all of
    // them, whichever part of the folder lands here) and the next cabinet's names.
    auto room = [&]() {
        return std::int64_t(c.cabinetLimit) - std::int64_t(cabinetSizeWithoutNext(c)) -
               std::int64_t(kNextNamesReserve) - std::int64_t(c.folderFileBytes);
    };
    bool wasSplit = false;
    for (;;) {
        std::int64_t whole = recordHeader + size + (last ? 0 : recordHeader + 1);
        if (room() >= whole || size < 2) {
            bool inPlace = !wasSplit && c.cabData.size() == recordAt;
            return appendDataRecord(c, payload, size, uncompressed, inPlace);
        }
        std::int64_t first = room() - recordHeader;
        if (first >= size) {
            first = size - 1;
        }
        if (first < 1 && c.folders[c.folderCount - 1].blocks == 0) {
            // Not even one byte of data fits beside the headers: the cabinet
            // size is too small for this folder.
            return c.breakWith(FCIERR_CAB_FORMAT_LIMIT);
        }
        if (first < 0) {
            first = 0;
        }
        if (!appendDataRecord(c, payload, std::uint32_t(first), 0) ||
            !listPart(c, listing, true, uncompressedAt)) {
            return false;
        }
        if (!startNextCabinet(c)) {
            return c.breakWith(c.io.erf->erfOper, c.io.erf->erfType);
        }
        if (!addFolder(c, 0, c.folderType)) {
            return false;
        }
        payload += first;
        size -= std::uint32_t(first);
        wasSplit = true;
    }
}

} // namespace

bool ccabNamesTerminated(const CCAB& ccab) {
    auto terminated = [](const char* field, std::size_t capacity) {
        return std::memchr(field, 0, capacity) != nullptr;
    };
    return terminated(ccab.szCab, sizeof ccab.szCab) &&
           terminated(ccab.szDisk, sizeof ccab.szDisk) &&
           terminated(ccab.szCabPath, sizeof ccab.szCabPath);
}

bool askNextCabinet(Context& c, std::uint64_t estimate, CCAB& next) {
    if (!c.nextCabinet) {
        return c.fail(FCIERR_CAB_FILE);
    }
    next = c.ccab;
    next.iCab += 1;
    if (!c.nextCabinet(&next, ULONG(estimate), c.io.pv)) {
        return c.fail(FCIERR_USER_ABORT);
    }
    if (!ccabNamesTerminated(next) || !next.szCab[0]) {
        return c.fail(FCIERR_CAB_FILE);
    }
    return true;
}

std::uint64_t cabinetSizeWithoutNext(const Context& c) {
    return layoutOf(c, nullptr, nullptr).total;
}

bool startNextCabinet(Context& c) {
    static_assert(kMaxCabinetsPerSet - 1 <= std::numeric_limits<decltype(c.setIndex)>::max());
    if (c.setIndex + 1u >= kMaxCabinetsPerSet) {
        return c.fail(FCIERR_CAB_FORMAT_LIMIT); // its number would wrap to the first's
    }
    CCAB next;
    if (!askNextCabinet(c, cabinetSizeWithoutNext(c) + kNextNamesReserve, next)) {
        return false;
    }
    if (!writeCabinet(c, next.szCab, next.szDisk)) {
        return false;
    }
    std::strcpy(c.prevCab, c.ccab.szCab);
    std::strcpy(c.prevDisk, c.ccab.szDisk);
    c.hasPrev = true;
    std::memcpy(c.ccab.szCab, next.szCab, sizeof next.szCab);
    std::memcpy(c.ccab.szDisk, next.szDisk, sizeof next.szDisk);
    std::memcpy(c.ccab.szCabPath, next.szCabPath, sizeof next.szCabPath);
    c.ccab.iCab = next.iCab;
    c.ccab.iDisk = next.iDisk;
    c.setIndex += 1;
    resetCabinet(c);
    return true;
}

bool writeLastCabinet(Context& c) {
    if (!writeCabinet(c, nullptr, nullptr)) {
        return false;
    }
    resetCabinet(c);
    c.hasPrev = false;
    c.setIndex = 0;
    c.needNewCabinet = true;
    return true;
}

// The folder's blocks lie past the cabinet data's logical end, so writing a
// cabinet before or during the placing leaves them be. Appending never overwrites
// a block not yet read: the data's end starts at or before the first block, every
// block is read whole before its record is appended, a record never grows, and a
// split part is smaller than its block and goes on in a cabinet that starts empty.
bool placeFolder(Context& c) {
    if (c.folderFileCount == 0) {
        return true; // only bytes of files that failed: nothing refers to them
    }
    const std::uint32_t recordHeader = c.dataRecordSize(0);
    const std::int64_t room = std::int64_t(c.cabinetLimit) -
                              std::int64_t(cabinetSizeWithoutNext(c)) -
                              std::int64_t(kNextNamesReserve) - std::int64_t(c.folderFileBytes);
    // A folder's first block needs its CFFOLDER and at least one byte of data beside it.
    bool needsData = c.folderNeededEnd > 0;
    std::int64_t firstNeed = folderEntrySize(c) + (needsData ? recordHeader + 1 : 0);
    bool cabinetHasContent = c.folderCount > 0 || c.cabFileCount > 0;
    if (cabinetHasContent && room < firstNeed && !startNextCabinet(c)) {
        return c.breakWith(c.io.erf->erfOper, c.io.erf->erfType);
    }
    if (!addFolder(c, c.cabData.size(), c.folderType)) {
        return false;
    }

    PartListing listing;
    std::uint32_t recordOffset = 0; // in the folder's data
    std::uint32_t uncompressedAt = 0;
    std::uint8_t* payload = c.block + recordHeader;
    int err = 0;
    for (std::uint32_t k = 0; k < c.folderBlocks && uncompressedAt < c.folderNeededEnd; ++k) {
        std::uint64_t recordAt = std::uint64_t(c.folderDataStart) + recordOffset;
        if (!c.cabData.readAt(c.io, recordAt, c.block, recordHeader, err)) {
            return c.breakWith(FCIERR_TEMP_FILE, err);
        }
        std::uint32_t size = getU16(c.block + cfdata::kCompressedSize);
        std::uint32_t uncompressed = getU16(c.block + cfdata::kUncompressedSize);
        if (!c.cabData.readAt(c.io, recordAt + recordHeader, payload, size, err)) {
            return c.breakWith(FCIERR_TEMP_FILE, err);
        }
        recordOffset += recordHeader + size;
        bool last = k + 1 == c.folderBlocks || uncompressedAt + uncompressed >= c.folderNeededEnd;
        if (!placeBlock(c, listing, payload, size, uncompressed, uncompressedAt, last, recordAt)) {
            return false;
        }
        uncompressedAt += uncompressed;
        if (c.status && c.status(statusFolder, recordOffset, c.folderDataSize, c.io.pv) == -1) {
            return c.breakWith(FCIERR_USER_ABORT);
        }
    }
    return listPart(c, listing, false, 0);
}

} // namespace kp::cab
