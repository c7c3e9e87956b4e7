// State of one compression context (the HFCI handle). The operations fci.cpp's entry
// points compose on it are in folder_stream.h (the open folder's stream) and
// cabinet_assembler.h (the cabinet under construction).
#pragma once

#include <cstdint>

#include "cab_format.h"
#include "codec.h"
#include "fci_io.h"
#include "mszip_pool.h"

namespace kp::cab {

// CFFOLDER of the cabinet under construction; dataOffset is relative to its data area.
struct FolderEntry {
    std::uint32_t dataOffset;
    std::uint32_t blocks;
    TCOMP typeCompress;
};

// Room kept free in every cabinet that may get a successor, for the next
// cabinet's and disk's names, which are learned only when that successor is asked for.
constexpr std::uint32_t kNextNamesReserve = CB_MAX_CABINET_NAME + CB_MAX_DISK_NAME;

// A file of the open folder, as kept in its temporary list until the folder is
// placed: the name length, then the CFFILE record with iFolder left 0.
constexpr std::uint32_t kFileRecordPrefix = 2;

constexpr std::uint32_t kCopyBufferSize = 65536;

struct Context {
    ClientIo io;
    CCAB ccab;
    std::uint32_t cabinetLimit;    // cb, clamped to what the format allows
    std::uint32_t folderThreshold; // cbFolderThresh, read as unsigned
    std::uint32_t dataReserve;
    std::uint32_t folderReserve;
    std::uint32_t headerReserve;

    // Callbacks of the call in progress.
    PFNFCIGETNEXTCABINET nextCabinet = nullptr;
    PFNFCISTATUS status = nullptr;

    // A failure that left the context inconsistent: every later call fails with it.
    bool broken = false;
    int brokenOper = 0;
    int brokenType = 0;

    // Scratch: one CFDATA record (header, reserve, largest payload) and a copy buffer.
    std::uint8_t* block = nullptr;
    std::uint8_t* copyBuffer = nullptr;
    std::uint8_t* frame = nullptr;

    // --- the open folder
    bool folderOpen = false;
    TCOMP folderType = 0;
    const CodecOps* codec = nullptr;
    void* codecState = nullptr;
    std::uint32_t frameFill = 0;
    // The folder's CFDATA records, as they will appear in a cabinet, are written into
    // cabData's file just past its logical end, where placing the folder would
    // append them anyway: a cabinet then needs one temporary copy of its data, not two.
    std::uint32_t folderDataStart = 0;
    std::uint32_t folderDataSize = 0;
    TempFile folderFiles;                 // file records, see kFileRecordPrefix
    std::uint32_t folderUncompressed = 0; // bytes fed, frame buffer included
    std::uint32_t folderCompressed = 0;   // payload bytes of emitted blocks
    std::uint32_t folderBlocks = 0;
    std::uint32_t folderFileCount = 0;
    std::uint32_t folderFileBytes = 0;   // size of its CFFILE records in a cabinet
    std::uint32_t currentEntryBytes = 0; // CFFILE size of the file being read
    std::uint32_t folderNeededEnd = 0;   // end of the last byte a listed file needs
    bool folderMustClose = false;
    bool abortRequested = false; // a statusFile report answered -1 during this call

    unsigned effort = 1; // KPFCISetEffort

    // --- compression on worker threads
    unsigned threads = 1;        // 1: every frame is compressed on the caller's thread
    MszipPool* pool = nullptr;   // built for the first folder that uses it
    bool pooled = false;         // the open folder's frames go through the pool
    std::uint64_t callCount = 0; // FCI calls made on the context, this one included
    // A codec that took threads (CodecOps::useThreads) emits blocks later than they
    // fell due; each is emitted with the folder as it stood when its frame came.
    bool deferring = false;
    std::uint32_t framesIn = 0;  // frames handed to the open folder's codec
    std::uint32_t blocksOut = 0; // blocks it emitted
    struct FrameMark {
        std::uint32_t fileBytes;
        std::uint32_t entryBytes;
    };
    static constexpr unsigned kFrameMarks = 16; // more than any codec holds back
    FrameMark marks[kFrameMarks] = {};

    // --- the cabinet under construction
    TempFile cabData;
    TempFile cabFiles;
    FolderEntry* folders = nullptr;
    std::uint32_t folderCount = 0;
    std::uint32_t folderCapacity = 0;
    std::uint32_t cabFileCount = 0;
    bool hasPrev = false;
    char prevCab[CB_MAX_CABINET_NAME] = {};
    char prevDisk[CB_MAX_DISK_NAME] = {};
    bool needNewCabinet = false; // the last cabinet was flushed; names for the next are due
    std::uint16_t setIndex = 0;

    bool fail(int oper, int type = 0) { return io.fail(oper, type); }
    bool breakWith(int oper, int type = 0) {
        broken = true;
        brokenOper = oper;
        brokenType = type;
        return io.fail(oper, type);
    }
    std::uint32_t dataRecordSize(std::uint32_t payload) const {
        return cfdata::kSize + dataReserve + payload;
    }
};

} // namespace kp::cab
