// The binding between the cabinet builder and the cabinet service (fci.h): four
// operations over the service's entry points, its error record and texts, and the
// callbacks that do the service's file and memory work on the platform layer.
#pragma once

#include "engine/CompressionType.h"
#include "fci.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kp {

// Per-file progress, called for every compressed block of the file being added.
using TProgressProc = void (*)(const std::string& FileName, int Percent, bool& Abort);
// A cabinet is being written; Abort stops it.
using TWritingProc = void (*)(bool& Abort);
// The service is about to start the next cabinet of a set and asks for its names.
using TNextCabProc = void (*)(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo,
                              bool& Abort);

// A cabinet the service writes. It goes to a staging file beside its final name, so a
// failed or interrupted run never leaves a partial cabinet under that name nor touches
// a file already there; CabCommit gives it the final name once the whole set is done.
struct StagedCabinet {
    std::string FinalPath;
    std::string StagingPath;
    platform::FileIdentity Identity;
    bool Committed = false;
};

// Handed to the service as the user pointer of a context and passed back to every
// callback; it follows the file the service opened last.
struct CompContext {
    std::string FileName;
    // 64-bit, so that a file of 2 GiB or more (or of a multiple of 4 GiB) still gives
    // a true percentage instead of a negative one or a division by zero.
    std::int64_t FileSize = 0;
    std::int64_t BytesDone = 0;
    // The source the service has open, and what it read of it: a source whose size at
    // its closing differs from what was read (it grew or shrank meanwhile) sets
    // SourceSizeChanged; the cabinet holds, and is sized by, the bytes read.
    platform::FileHandle SourceHandle = -1;
    std::int64_t SourceBytesRead = 0;
    bool SourceSizeChanged = false;
    TProgressProc ProgressProc = nullptr;
    TNextCabProc NextCabProc = nullptr;
    // Asked between the chunks of a cabinet being written (a stored gigabyte takes
    // seconds): Abort stops the writing, which then fails with FCIERR_USER_ABORT.
    TWritingProc WritingProc = nullptr;
    // A callback caught an exception and failed; the service call then reports nothing.
    bool ExceptionCaught = false;
    // The temporary names FciGetTempFile gave out: FciOpen creates these as they are
    // named, every other name it is asked to create is a cabinet and gets staged.
    std::vector<std::string> TempNames;
    std::vector<StagedCabinet> Cabinets;
    // The service has completed the staged cabinets; only their renaming is left.
    bool CommitPending = false;
    // False: a cabinet name taken by another file fails the flush with kErrorFileExists
    // and leaves that file alone. True: the file is replaced in one step.
    bool ReplaceExisting = false;
    // Every file the context created, so a walk can leave out what the run writes.
    std::vector<platform::FileIdentity> Written;
};

// One context of the service and the record its callbacks share. Destroying it
// destroys the service's context too, should CabDestroy not have run.
class CabContext {
public:
    CabContext() = default;
    CabContext(const CabContext&) = delete;
    CabContext& operator=(const CabContext&) = delete;
    ~CabContext();

    HFCI Handle = nullptr;
    CompContext Comp;
};

// The outcome of the most recent service call, for the whole process.
extern ERF CabError;

// CabFile's folder part (platform::folderPart) becomes the service's cabinet path and
// its last component the cabinet's name; SetId keeps only its low 16 bits.
std::unique_ptr<CabContext> CabCreate(const std::string& CabFile, const std::string& DiskName,
                                      std::int32_t FolderThreshold, std::int32_t CabinetSize,
                                      std::int32_t SetId, std::int32_t HeaderReserve,
                                      TProgressProc ProgressProc, TNextCabProc NextCabProc);
// Worker threads for the context's compression (1: all on the calling thread); the
// cabinets are the same for every count. Counts below 1 are taken as 1.
void CabSetThreads(CabContext& Context, int Threads);
// The context's LZX effort, kMinEffort to kMaxEffort (CompressionType.h); levels
// outside are taken as the nearest.
void CabSetEffort(CabContext& Context, int Effort);
bool CabAddFile(CabContext& Context, const std::string& SourcePath, const std::string& StoredName,
                bool Execute, TCompressionType CompType, std::int32_t LzxWindow);
// On success every cabinet the context has written so far has its final name (a
// set's members in order); see CompContext::ReplaceExisting for a name that is taken.
// A flush whose renaming failed (FCIERR_CAB_FILE) only renames again when repeated.
// BeforeCommit, when given, sees the staging paths of the set's cabinets, in order,
// once they are complete and before any takes its final name; false from it fails the
// flush with FCIERR_USER_ABORT and leaves every file under a final name as it was.
using TBeforeCommit = std::function<bool(const std::vector<std::string>& StagingPaths)>;
bool CabFlush(CabContext& Context, bool GetNextCab, const TBeforeCommit& BeforeCommit = {});
// Destroys the service's context, then removes what the context created and did not
// hand over: staging files, and the cabinets of a set whose commit did not finish
// (only while the final name still holds the very file this context wrote).
bool CabDestroy(CabContext& Context);
ERF CabLastError();
std::string CabErrorText(const ERF& Error);

// The service's compression type: the method's ordinal, and for LZX the window above it.
TCOMP CabCompressionType(TCompressionType CompType, std::int32_t LzxWindow);

} // namespace kp
