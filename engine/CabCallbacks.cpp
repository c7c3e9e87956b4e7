#include "engine/CabCallbacks.h"

#include "engine/CabBinding.h"
#include "platform/DosTime.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Memory.h"
#include "platform/TempFiles.h"

#include <cstring>
#include <optional>

namespace kp {

using namespace platform;

namespace {

CompContext& ContextOf(void* pv) {
    return *static_cast<CompContext*>(pv);
}

// Runs a callback's body; an exception marks the context and gives the failure value.
template <typename Result, typename Body> Result Guarded(void* pv, Result failure, Body body) {
    try {
        return body();
    } catch (...) {
        if (pv) {
            ContextOf(pv).ExceptionCaught = true;
        }
        return failure;
    }
}

// The body of a callback with an `err` argument: `err` is 0 unless `call` gives no
// value, when it holds the platform's last error and the callback answers `failure`.
template <typename Result, typename Call>
Result SystemCall(int* err, void* pv, Result failure, Call call) {
    *err = 0;
    return Guarded<Result>(pv, failure, [&]() -> Result {
        std::optional<Result> result = call();
        if (!result) {
            *err = static_cast<int>(lastError());
            return failure;
        }
        return *result;
    });
}

constexpr UINT kTransferFailed = static_cast<UINT>(-1);

// Staging names are hidden and carry the prefix of every temporary file of ours, so a
// leftover of a killed run is recognisable; the cabinet's own name is cut short where
// it would push the staging name past a file system's 255-byte limit.
std::string StagingPrefixFor(const std::string& cabinetName) {
    constexpr std::size_t kRoomForName = 200;
    return "." + cabinetName.substr(0, kRoomForName) + "." + kTempFilePrefix;
}

void RememberWritten(CompContext& context, const std::string& path) {
    FileIdentity identity;
    if (identityOf(path, identity)) {
        context.Written.push_back(identity);
    }
}

// Creates the staging file for the cabinet `finalPath` and opens it for the service.
std::optional<INT_PTR> OpenStagedCabinet(CompContext& context, const std::string& finalPath) {
    for (const StagedCabinet& cabinet : context.Cabinets) {
        if (cabinet.FinalPath == finalPath) {
            setLastError(kErrorFileExists); // one name for two cabinets of a set
            return std::nullopt;
        }
    }
    std::string staging =
        createUniqueTempFile(folderPart(finalPath), StagingPrefixFor(namePart(finalPath)));
    if (staging.empty()) {
        return std::nullopt;
    }
    FileHandle handle = openFile(staging, FileAccess::ReadWrite, FileDisposition::OpenExisting);
    FileIdentity identity;
    if (handle == kInvalidHandle || !identityOf(staging, identity) ||
        !giveCreationPermissions(staging)) {
        std::uint32_t error = lastError();
        if (handle != kInvalidHandle) {
            closeFile(handle);
        }
        deleteFile(staging);
        setLastError(error);
        return std::nullopt;
    }
    context.Cabinets.push_back({finalPath, staging, identity, false});
    context.Written.push_back(identity);
    return handle;
}

bool IsTempName(const CompContext& context, const std::string& path) {
    for (const std::string& name : context.TempNames) {
        if (name == path) {
            return true;
        }
    }
    return false;
}

} // namespace

FNFCIALLOC(FciAlloc) {
    // Exhaustion gives null, which the service reports as "Out of memory during compression".
    return cb == 0 ? nullptr : heapAllocate(cb);
}

FNFCIFREE(FciFree) {
    heapFree(memory);
}

FNFCIOPEN(FciOpen) {
    (void)pmode;
    return SystemCall<INT_PTR>(err, pv, -1, [&]() -> std::optional<INT_PTR> {
        FileAccess access = FileAccess::Read;
        FileDisposition disposition = FileDisposition::OpenExisting;
        if ((oflag & _O_CREAT) && pv && !IsTempName(ContextOf(pv), pszFile)) {
            return OpenStagedCabinet(ContextOf(pv), pszFile);
        }
        if (oflag & _O_CREAT) {
            // Never replaces a file: a name taken since the temporary name was
            // reserved makes the open fail instead.
            access = FileAccess::ReadWrite;
            disposition = FileDisposition::CreateNew;
        } else {
            switch (oflag & (_O_WRONLY | _O_RDWR)) {
            case _O_WRONLY:
                access = FileAccess::Write;
                break;
            case _O_RDWR:
                access = FileAccess::ReadWrite;
                break;
            default:
                access = FileAccess::Read;
                break;
            }
            if ((oflag & _O_TRUNC) && access != FileAccess::Read) {
                disposition = FileDisposition::TruncateExisting;
            }
        }
        FileHandle handle = openFile(pszFile, access, disposition);
        if (handle == kInvalidHandle) {
            return std::nullopt;
        }
        if (disposition == FileDisposition::CreateNew && pv) {
            RememberWritten(ContextOf(pv), pszFile);
        }
        if ((oflag & _O_APPEND) && seekFile(handle, 0, SeekOrigin::End) < 0) {
            std::uint32_t error = lastError();
            closeFile(handle);
            setLastError(error);
            return std::nullopt;
        }
        return handle;
    });
}

// A failed transfer answers -1, the service's sign of failure, rather than a byte count
// that it would take for the end of the file.
FNFCIREAD(FciRead) {
    return SystemCall<UINT>(err, pv, kTransferFailed, [&]() -> std::optional<UINT> {
        std::uint32_t transferred = 0;
        if (!readFile(hf, memory, cb, transferred)) {
            return std::nullopt;
        }
        if (pv && hf == ContextOf(pv).SourceHandle) {
            ContextOf(pv).SourceBytesRead += transferred;
        }
        return transferred;
    });
}

FNFCIWRITE(FciWrite) {
    return SystemCall<UINT>(err, pv, kTransferFailed, [&]() -> std::optional<UINT> {
        std::uint32_t transferred = 0;
        return writeFile(hf, memory, cb, transferred) ? std::optional<UINT>(transferred)
                                                      : std::nullopt;
    });
}

FNFCICLOSE(FciClose) {
    return SystemCall<int>(err, pv, -1, [&]() -> std::optional<int> {
        if (pv && hf == ContextOf(pv).SourceHandle) {
            CompContext& context = ContextOf(pv);
            FileInformation information;
            std::int64_t sizeNow = fileInformation(hf, information)
                                       ? static_cast<std::int64_t>(information.size)
                                       : context.SourceBytesRead;
            context.SourceSizeChanged =
                sizeNow != context.SourceBytesRead || context.FileSize != context.SourceBytesRead;
            context.SourceHandle = kInvalidHandle;
        }
        return closeFile(hf) ? std::optional<int>(0) : std::nullopt;
    });
}

FNFCISEEK(FciSeek) {
    return SystemCall<long>(err, pv, -1, [&]() -> std::optional<long> {
        if (seektype < 0 || seektype > 2) {
            setLastError(kErrorInvalidParameter);
            return std::nullopt;
        }
        std::int64_t position = seekFile(hf, dist, static_cast<SeekOrigin>(seektype));
        return position < 0 ? std::nullopt : std::optional<long>(static_cast<long>(position));
    });
}

// A cabinet the service gives up on is known by its final name, where nothing of
// this run is: its staging file goes instead, and a file under the final name stays.
FNFCIDELETE(FciDelete) {
    return SystemCall<int>(err, pv, -1, [&]() -> std::optional<int> {
        std::string path = pszFile;
        if (pv) {
            std::vector<StagedCabinet>& cabinets = ContextOf(pv).Cabinets;
            for (auto cabinet = cabinets.begin(); cabinet != cabinets.end(); ++cabinet) {
                if (cabinet->FinalPath == path && !cabinet->Committed) {
                    path = cabinet->StagingPath;
                    cabinets.erase(cabinet);
                    break;
                }
            }
        }
        return deleteFile(path) ? std::optional<int>(0) : std::nullopt;
    });
}

FNFCIGETTEMPFILE(FciGetTempFile) {
    return Guarded<BOOL>(pv, FALSE, [&]() -> BOOL {
        std::string name = createUniqueTempFile(tempFolder(), kTempFilePrefix);
        if (name.empty()) {
            return FALSE;
        }
        // The reserving file goes again so that FciOpen can create it; a name that
        // does not fit the service's buffer is refused rather than written past it.
        deleteFile(name);
        if (cbTempName <= 0 || name.size() + 1 > static_cast<std::size_t>(cbTempName)) {
            return FALSE;
        }
        std::memcpy(pszTempName, name.c_str(), name.size() + 1);
        if (pv) {
            ContextOf(pv).TempNames.push_back(name);
        }
        return TRUE;
    });
}

FNFCIFILEPLACED(FciFilePlaced) {
    (void)pccab;
    (void)pszFile;
    (void)cbFile;
    (void)fContinuation;
    (void)pv;
    return 0;
}

namespace {

// statusFolder comes between the blocks of a folder being placed in a cabinet and the
// chunks of a cabinet being written: no progress of a file, only a chance to stop.
long PollWriting(void* pv) {
    CompContext& context = ContextOf(pv);
    bool abort = false;
    if (context.WritingProc) {
        context.WritingProc(abort);
    }
    return abort ? -1 : 0;
}

} // namespace

FNFCISTATUS(FciStatus) {
    (void)cb1;
    return Guarded<long>(pv, -1, [&]() -> long {
        if (typeStatus == statusFolder) {
            return PollWriting(pv);
        }
        if (typeStatus != statusFile) {
            return 0;
        }
        CompContext& context = ContextOf(pv);
        bool abort = false;
        context.BytesDone += cb2;
        // An empty file has nothing left to do once a block of it is reported.
        int percent = context.FileSize > 0
                          ? static_cast<int>(context.BytesDone * 100 / context.FileSize)
                          : 100;
        if (context.ProgressProc) {
            context.ProgressProc(context.FileName, percent, abort);
        }
        return abort ? -1 : 0;
    });
}

FNFCISTATUS(FciFlushStatus) {
    (void)cb1;
    (void)cb2;
    return Guarded<long>(
        pv, -1, [&]() -> long { return typeStatus == statusFolder ? PollWriting(pv) : 0; });
}

FNFCIGETNEXTCABINET(FciGetNextCabinet) {
    (void)cbPrevCab;
    return Guarded<BOOL>(pv, FALSE, [&]() -> BOOL {
        CompContext& context = ContextOf(pv);
        std::string cabName = pccab->szCab;
        std::string diskName = pccab->szDisk;
        bool abort = false;
        if (context.NextCabProc) {
            context.NextCabProc(cabName, diskName, pccab->iCab, pccab->iDisk, abort);
        }
        // Names that do not fit the service's fields refuse the next cabinet.
        if (cabName.size() >= sizeof pccab->szCab || diskName.size() >= sizeof pccab->szDisk) {
            return FALSE;
        }
        std::memcpy(pccab->szCab, cabName.c_str(), cabName.size() + 1);
        std::memcpy(pccab->szDisk, diskName.c_str(), diskName.size() + 1);
        return abort ? FALSE : TRUE;
    });
}

FNFCIGETOPENINFO(FciGetOpenInfo) {
    return Guarded<INT_PTR>(pv, -1, [&]() -> INT_PTR {
        // Copied before the open, so that nothing can throw while the handle is open.
        std::string name = pszName;
        FileHandle handle = openFile(pszName, FileAccess::Read, FileDisposition::OpenExisting,
                                     /*sequentialHint=*/true);
        if (handle == kInvalidHandle) {
            *err = static_cast<int>(lastError());
            return -1;
        }
        FileInformation information;
        if (!fileInformation(handle, information)) {
            *err = static_cast<int>(lastError());
            closeFile(handle);
            return -1;
        }
        DosDateTime stamp = dosDateTimeOrNearest(information.lastWriteTime);
        *pdate = stamp.date;
        *ptime = stamp.time;
        std::uint32_t attributes = fileAttributes(pszName);
        *pattribs =
            attributes == kInvalidFileAttributes
                ? 0
                : static_cast<USHORT>(attributes & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH));
        CompContext& context = ContextOf(pv);
        context.FileName.swap(name);
        context.FileSize = static_cast<std::int64_t>(information.size);
        context.BytesDone = 0;
        context.SourceHandle = handle;
        context.SourceBytesRead = 0;
        context.SourceSizeChanged = false;
        return handle;
    });
}

} // namespace kp
