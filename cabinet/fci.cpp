// The entry points of the file compression interface.
#include "fci.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "cabinet_assembler.h"
#include "folder_stream.h"

namespace kp::cab {
namespace {

Context* contextOf(HFCI hfci) {
    return static_cast<Context*>(hfci);
}

// A callback that throws leaves the context in an unknown state: mark it so that
// every later call fails instead of writing a corrupt cabinet.
class BreakOnUnwind {
public:
    explicit BreakOnUnwind(Context& c) : c_(c) {}
    ~BreakOnUnwind() {
        if (!done_) {
            c_.broken = true;
            c_.brokenOper = FCIERR_USER_ABORT;
            c_.brokenType = 0;
        }
    }
    BOOL finish(bool ok) {
        done_ = true;
        return ok ? TRUE : FALSE;
    }

private:
    Context& c_;
    bool done_ = false;
};

// Closes the source file however AddFile leaves.
class SourceHandle {
public:
    SourceHandle(const ClientIo& io, INT_PTR hf) : io_(io), hf_(hf) {}
    ~SourceHandle() {
        int err = 0;
        io_.close(hf_, &err, io_.pv);
    }
    INT_PTR get() const { return hf_; }

private:
    const ClientIo& io_;
    INT_PTR hf_;
};

void releaseContext(Context* c) {
    if (c->codecState) {
        c->codec->destroy(c->codecState);
    }
    // Stops the workers first: none may be left writing into memory about to go.
    MszipPool::destroy(c->pool);
    for (TempFile* t : {&c->folderFiles, &c->cabData, &c->cabFiles}) {
        t->destroy(c->io);
    }
    c->io.release(c->frame);
    c->io.release(c->block);
    c->io.release(c->copyBuffer);
    c->io.release(c->folders);
    ClientIo io = c->io;
    c->~Context();
    io.release(c);
}

bool hasHighBytes(const char* s) {
    for (; *s; ++s) {
        if (static_cast<unsigned char>(*s) > 0x7F) {
            return true;
        }
    }
    return false;
}

// After a cabinet was flushed as the last of its set, the next file goes into a
// new cabinet, whose names the client gives as for any next cabinet; nothing is in
// the new one yet, so its size is told as 0.
bool beginNewCabinet(Context& c) {
    CCAB next;
    if (!askNextCabinet(c, 0, next)) {
        return false;
    }
    c.ccab = next;
    c.needNewCabinet = false;
    return true;
}

// FCIAddFile's request as far as it can be judged before the source is opened.
struct AddRequest {
    char* source = nullptr;
    const char* storedName = nullptr;
    std::uint32_t nameLength = 0;
    TCOMP typeCompress = 0;
    const CodecOps* codec = nullptr;
    unsigned windowBits = 0;
};

bool acceptRequest(Context& c, char* source, const char* storedName, PFNFCIGETOPENINFO getOpenInfo,
                   TCOMP typeCompress, AddRequest& request) {
    if (!source || !storedName || !getOpenInfo) {
        return c.fail(FCIERR_OPEN_SRC);
    }
    std::size_t nameLength = std::strlen(storedName);
    if (nameLength == 0 || nameLength >= CB_MAX_FILENAME) {
        return c.fail(FCIERR_CAB_FORMAT_LIMIT);
    }
    unsigned windowBits = 0;
    const CodecOps* codec = codecFor(typeCompress, &windowBits);
    if (!codec) {
        return c.fail(FCIERR_BAD_COMPR_TYPE);
    }
    request =
        AddRequest{source, storedName, std::uint32_t(nameLength), typeCompress, codec, windowBits};
    return true;
}

// The size of the open source, which is left positioned at its start.
bool measureSource(Context& c, INT_PTR hf, std::uint32_t& size) {
    int err = 0;
    long end = c.io.seek(hf, 0, 2, &err, c.io.pv);
    if (end < 0 || c.io.seek(hf, 0, 0, &err, c.io.pv) != 0) {
        return c.fail(FCIERR_READ_SRC, err);
    }
    if (std::uint64_t(end) > kMaxFolderBytes) {
        return c.fail(FCIERR_CAB_FORMAT_LIMIT);
    }
    size = std::uint32_t(end);
    return true;
}

// Whether the cabinet under construction can list one more file, and hold the
// folder for it when none is open. The open folder's files count as this cabinet's:
// that is where it starts when it is placed.
bool cabinetHasRoomForFile(const Context& c) {
    return c.cabFileCount + c.folderFileCount + 1 <= kMaxFilesPerCabinet &&
           (c.folderOpen || c.folderCount + 1 <= kMaxFoldersPerCabinet);
}

// A cabinet full by its counts goes on in the next one, as one full by its size
// does; only a client that takes no next cabinet, or a set at its last number,
// makes it the format's limit. That is judged before the open folder is closed, so
// a refused file leaves the context as it was.
bool makeRoomForFile(Context& c) {
    if (cabinetHasRoomForFile(c)) {
        return true;
    }
    if (!c.nextCabinet || c.setIndex + 1u >= kMaxCabinetsPerSet) {
        return c.fail(FCIERR_CAB_FORMAT_LIMIT);
    }
    if (c.folderOpen && !closeFolder(c)) {
        return false;
    }
    // Placing the folder may have split it, leaving room in the cabinet it reached.
    return cabinetHasRoomForFile(c) || startNextCabinet(c);
}

// Makes the open folder ready to take a file of `size` bytes: the current folder is
// closed when the file would overfill it or its cabinet, and a new one opened when
// none is open.
bool prepareFolder(Context& c, const AddRequest& request, std::uint32_t size) {
    if (c.folderOpen && std::uint64_t(c.folderUncompressed) + size > kMaxFolderBytes &&
        !closeFolder(c)) {
        return false;
    }
    if (!makeRoomForFile(c)) {
        return false;
    }
    if (!c.folderOpen && !openFolder(c, request.typeCompress, request.codec, request.windowBits)) {
        return false;
    }
    return true;
}

// Feeds the whole source to the folder. `stored` is what was read: a file that
// shrank since it was opened is taken as it stands.
bool readSource(Context& c, INT_PTR hf, std::uint32_t size, std::uint32_t& stored) {
    stored = 0;
    while (stored < size) {
        std::uint32_t want = size - stored;
        if (want > kCopyBufferSize) {
            want = kCopyBufferSize;
        }
        int err = 0;
        UINT got = c.io.read(hf, c.copyBuffer, want, &err, c.io.pv);
        if (got == UINT(-1) || got > want || (got < want && err != 0)) {
            return c.fail(FCIERR_READ_SRC, err);
        }
        if (got == 0) {
            break;
        }
        if (!feedFolder(c, c.copyBuffer, got)) {
            return false;
        }
        stored += got;
    }
    return true;
}

// The file's CFFILE record as the open folder keeps it until it is placed, see
// kFileRecordPrefix. `start` is where the file begins in the folder's stream.
bool listInFolder(Context& c, const AddRequest& request, std::uint32_t start, std::uint32_t stored,
                  USHORT date, USHORT time, USHORT attribs) {
    std::uint8_t record[kFileRecordPrefix + cffile::kSize + CB_MAX_FILENAME] = {};
    putU16(record, request.nameLength);
    std::uint8_t* entry = record + kFileRecordPrefix;
    putU32(entry + cffile::kUncompressedSize, stored);
    putU32(entry + cffile::kFolderOffset, start);
    putU16(entry + cffile::kDate, date);
    putU16(entry + cffile::kTime, time);
    putU16(entry + cffile::kAttributes, attribs);
    std::memcpy(entry + cffile::kSize, request.storedName, request.nameLength + 1);
    std::uint32_t entryBytes = cffile::kSize + request.nameLength + 1;
    int err = 0;
    if (!c.folderFiles.append(c.io, record, kFileRecordPrefix + entryBytes, err)) {
        return c.breakWith(FCIERR_TEMP_FILE, err);
    }
    ++c.folderFileCount;
    c.folderFileBytes += entryBytes;
    if (stored) {
        c.folderNeededEnd = start + stored;
    }
    return true;
}

bool addFile(Context& c, char* source, char* storedName, BOOL execute,
             PFNFCIGETOPENINFO getOpenInfo, TCOMP typeCompress) {
    AddRequest request;
    if (!acceptRequest(c, source, storedName, getOpenInfo, typeCompress, request)) {
        return false;
    }
    if (c.needNewCabinet && !beginNewCabinet(c)) {
        return false;
    }
    if (c.folderOpen && c.folderType != typeCompress && !closeFolder(c)) {
        return false;
    }

    USHORT date = 0, time = 0, attribs = 0;
    int err = 0;
    INT_PTR hf = getOpenInfo(source, &date, &time, &attribs, &err, c.io.pv);
    if (hf == kNoHandle) {
        return c.fail(FCIERR_OPEN_SRC, err);
    }
    SourceHandle sourceHandle(c.io, hf);
    std::uint32_t size = 0;
    if (!measureSource(c, hf, size) || !prepareFolder(c, request, size)) {
        return false;
    }

    std::uint32_t start = c.folderUncompressed;
    c.currentEntryBytes = cffile::kSize + request.nameLength + 1;
    std::uint32_t stored = 0;
    bool read = readSource(c, hf, size, stored);
    c.currentEntryBytes = 0;
    if (!read) {
        return false;
    }
    // A codec with threads hands out what fell due during the file before it is
    // listed, so that an abort answered to those reports leaves the file out, as on
    // one thread.
    if (c.deferring && (!drainPool(c, true) || c.abortRequested)) {
        return c.broken ? false : c.fail(FCIERR_USER_ABORT);
    }

    if (execute) {
        attribs |= _A_EXEC;
    }
    if (hasHighBytes(storedName)) {
        attribs |= _A_NAME_IS_UTF;
    }
    if (!listInFolder(c, request, start, stored, date, time, attribs)) {
        return false;
    }
    if (pendingBlocksMatter(c) && !drainPool(c, true)) {
        return false;
    }
    bool thresholdReached = c.folderThreshold && c.folderCompressed >= c.folderThreshold;
    if (c.folderMustClose || thresholdReached) {
        return closeFolder(c);
    }
    return true;
}

// What every call on a context does around its own work: refuse a broken
// context, take the call's callbacks, and break the context if a callback throws.
template <class Operation>
BOOL runCall(HFCI hfci, PFNFCIGETNEXTCABINET nextCabinet, PFNFCISTATUS status,
             Operation operation) {
    Context* c = contextOf(hfci);
    if (!c) {
        return FALSE;
    }
    if (c->broken) {
        return c->fail(c->brokenOper, c->brokenType);
    }
    c->nextCabinet = nextCabinet;
    c->status = status;
    c->abortRequested = false;
    ++c->callCount;
    BreakOnUnwind guard(*c);
    bool ok = operation(*c);
    // Blocks handed to the workers in an earlier call are settled by the end of this
    // one, so that what they fail with reaches the client at most one call late.
    if (c->pooled && !c->broken && !drainPool(*c, false)) {
        ok = false;
    }
    if (ok && c->abortRequested) {
        ok = c->fail(FCIERR_USER_ABORT);
    }
    return guard.finish(ok);
}

} // namespace
} // namespace kp::cab

using namespace kp::cab;

extern "C" {

HFCI DIAMONDAPI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
                          PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
                          PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void FAR* pv) {
    if (!perf) {
        return nullptr;
    }
    ClientIo io{perf,     pfnfcifp, pfna,    pfnf,      pfnopen,   pfnread,
                pfnwrite, pfnclose, pfnseek, pfndelete, pfnfcigtf, pv};
    if (!pfna || !pfnf) {
        io.fail(FCIERR_ALLOC_FAIL);
        return nullptr;
    }
    if (!pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek || !pfndelete || !pfnfcigtf) {
        io.fail(FCIERR_TEMP_FILE);
        return nullptr;
    }
    if (!pccab || pccab->cbReserveCFHeader > kMaxHeaderReserve ||
        pccab->cbReserveCFFolder > kMaxFolderOrDataReserve ||
        pccab->cbReserveCFData > kMaxFolderOrDataReserve || !ccabNamesTerminated(*pccab)) {
        io.fail(FCIERR_CAB_FORMAT_LIMIT);
        return nullptr;
    }

    void* place = io.allocate(sizeof(Context));
    if (!place) {
        io.fail(FCIERR_ALLOC_FAIL);
        return nullptr;
    }
    Context* c = new (place) Context;
    c->io = io;
    c->ccab = *pccab;
    c->cabinetLimit = (pccab->cb == 0 || pccab->cb > kMaxCabinetBytes) ? kMaxCabinetBytes
                                                                       : std::uint32_t(pccab->cb);
    c->folderThreshold = pccab->cbFolderThresh;
    c->headerReserve = pccab->cbReserveCFHeader;
    c->folderReserve = pccab->cbReserveCFFolder;
    c->dataReserve = pccab->cbReserveCFData;

    c->frame = static_cast<std::uint8_t*>(io.allocate(kFrameSize));
    c->block = static_cast<std::uint8_t*>(io.allocate(c->dataRecordSize(kMaxBlockData)));
    c->copyBuffer = static_cast<std::uint8_t*>(io.allocate(kCopyBufferSize));
    if (!c->frame || !c->block || !c->copyBuffer) {
        releaseContext(c);
        io.fail(FCIERR_ALLOC_FAIL);
        return nullptr;
    }
    for (TempFile* t : {&c->folderFiles, &c->cabData, &c->cabFiles}) {
        int err = 0;
        if (!t->create(c->io, err)) {
            releaseContext(c);
            io.fail(FCIERR_TEMP_FILE, err);
            return nullptr;
        }
    }
    return c;
}

BOOL DIAMONDAPI FCIAddFile(HFCI hfci, LPSTR pszSourceFile, LPSTR pszFileName, BOOL fExecute,
                           PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                           PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress) {
    return runCall(hfci, pfnfcignc, pfnfcis, [&](Context& c) {
        return addFile(c, pszSourceFile, pszFileName, fExecute, pfnfcigoi, typeCompress);
    });
}

BOOL DIAMONDAPI FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
    return runCall(hfci, pfnfcignc, pfnfcis, [](Context& c) { return closeFolder(c); });
}

BOOL DIAMONDAPI FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                                PFNFCISTATUS pfnfcis) {
    return runCall(hfci, pfnfcignc, pfnfcis, [&](Context& c) {
        if (c.needNewCabinet && !c.folderOpen) {
            return true; // nothing was added since the last cabinet was written
        }
        if (!closeFolder(c)) {
            return false;
        }
        return fGetNextCab ? startNextCabinet(c) : writeLastCabinet(c);
    });
}

BOOL DIAMONDAPI KPFCISetThreadCount(HFCI hfci, UINT threads) {
    Context* c = contextOf(hfci);
    if (!c || threads == 0) {
        return FALSE;
    }
    c->threads = threads > kMaxThreads ? kMaxThreads : threads;
    return TRUE;
}

BOOL DIAMONDAPI KPFCISetEffort(HFCI hfci, UINT effort) {
    Context* c = contextOf(hfci);
    if (!c || effort == 0 || effort > KPFCI_MAX_EFFORT) {
        return FALSE;
    }
    c->effort = effort;
    return TRUE;
}

BOOL DIAMONDAPI FCIDestroy(HFCI hfci) {
    Context* c = contextOf(hfci);
    if (!c) {
        return FALSE;
    }
    releaseContext(c);
    return TRUE;
}

} // extern "C"
