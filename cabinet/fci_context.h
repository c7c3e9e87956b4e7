// State of one compression context (the HFCI handle) and the operations that the
// entry points in fci.cpp compose: the open folder's stream and the cabinet under
// construction.
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

// The open folder. openFolder expects no folder to be open (a previous one closed or
// never opened) and `codec` to be the one codecFor gave for `typeCompress` and
// `windowBits`.
bool openFolder(Context& c, TCOMP typeCompress, const CodecOps* codec, unsigned windowBits);
// Hands `size` bytes of the current file to the folder's stream; the folder is open.
bool feedFolder(Context& c, const std::uint8_t* data, std::uint32_t size);
// Ends the folder's stream and places it into the cabinet(s). Any failure breaks the context.
bool closeFolder(Context& c);

// Takes out the blocks compressed on other threads, oldest first, as the folder's
// own, while the oldest was handed over in an earlier call than this one (`all`:
// every block due by now). A failure breaks the context and drops the rest.
bool drainPool(Context& c, bool all);
// Whether blocks due but not yet taken out could change what the end of a file
// decides (the folder threshold, or the cabinet's room for the folder): then they
// are taken out first.
bool pendingBlocksMatter(const Context& c);

// The cabinet under construction.
// Whether each of the CCAB's names ends within its field, as a client must leave them.
bool ccabNamesTerminated(const CCAB& ccab);
// Asks the client for the names of the cabinet after the current one, telling it
// `estimate` as the current one's size; `next` is the current CCAB with iCab one up,
// as the client left it. False, with the failure recorded, when the client refuses
// or leaves a name that is empty or does not end within its field.
bool askNextCabinet(Context& c, std::uint64_t estimate, CCAB& next);
// The size the current cabinet's file would have, written now as the last of its set.
std::uint64_t cabinetSizeWithoutNext(const Context& c);
// Moves the closed folder's blocks and file records into the cabinet, starting
// further cabinets while it does not fit. Any failure breaks the context.
bool placeFolder(Context& c);
// Asks for the next cabinet's names, writes the current one pointing to it and
// starts the next one empty.
bool startNextCabinet(Context& c);
// Writes the current cabinet as the last of its set. On failure the cabinet
// stays pending and a later call may try again.
bool writeLastCabinet(Context& c);

} // namespace kp::cab
