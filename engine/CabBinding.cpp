#include "engine/CabBinding.h"

#include "engine/CabCallbacks.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

#include <cstring>

namespace kp {

ERF CabError{};

namespace {

// Runs one service call. An exception, whether it reached here or was caught by a
// callback, fails the call with a record that says nothing: the service recorded nothing.
template <typename Call> bool CallService(CompContext& context, Call call) {
    CabError = ERF{};
    context.ExceptionCaught = false;
    bool succeeded = false;
    try {
        succeeded = call();
    } catch (...) {
        context.ExceptionCaught = true;
    }
    if (context.ExceptionCaught) {
        CabError = ERF{};
        return false;
    }
    return succeeded;
}

bool CopyName(char (&field)[256], const std::string& name) {
    if (name.size() >= sizeof field) {
        return false;
    }
    std::memcpy(field, name.c_str(), name.size() + 1);
    return true;
}

} // namespace

namespace {

// After the service's context is gone: no handle of a staged cabinet is open any more.
void DiscardUnfinished(CompContext& context) {
    bool setComplete = true;
    for (const StagedCabinet& cabinet : context.Cabinets) {
        setComplete = setComplete && cabinet.Committed;
    }
    for (const StagedCabinet& cabinet : context.Cabinets) {
        platform::FileIdentity now;
        if (!cabinet.Committed) {
            platform::deleteFile(cabinet.StagingPath);
        } else if (!setComplete && platform::identityOf(cabinet.FinalPath, now) &&
                   now == cabinet.Identity) {
            platform::deleteFile(cabinet.FinalPath);
        }
    }
    context.Cabinets.clear();
}

} // namespace

CabContext::~CabContext() {
    if (Handle) {
        FCIDestroy(Handle);
    }
    DiscardUnfinished(Comp);
}

// The builder's methods are the service's type codes, so the ordinal is passed on as it is.
static_assert(ctNone == tcompTYPE_NONE && ctMsZip == tcompTYPE_MSZIP &&
              ctQuantum == tcompTYPE_QUANTUM && ctLzx == tcompTYPE_LZX);
static_assert(kMinLzxWindow == tcompLZX_WINDOW_LO >> tcompSHIFT_LZX_WINDOW &&
              kMaxLzxWindow == tcompLZX_WINDOW_HI >> tcompSHIFT_LZX_WINDOW);
static_assert(kMinEffort == 1 && kMaxEffort == KPFCI_MAX_EFFORT,
              "the engine's effort levels are the service's");

TCOMP CabCompressionType(TCompressionType CompType, std::int32_t LzxWindow) {
    if (CompType == ctLzx) {
        return static_cast<TCOMP>(TCOMPfromLZXWindow(static_cast<unsigned>(LzxWindow) & 0xFF));
    }
    return static_cast<TCOMP>(static_cast<unsigned>(CompType) & 0xFF);
}

std::unique_ptr<CabContext> CabCreate(const std::string& CabFile, const std::string& DiskName,
                                      std::int32_t FolderThreshold, std::int32_t CabinetSize,
                                      std::int32_t SetId, std::int32_t HeaderReserve,
                                      TProgressProc ProgressProc, TNextCabProc NextCabProc) {
    CCAB parameters;
    std::memset(&parameters, 0, sizeof parameters);
    // Both sizes keep their bit pattern: the service reads them as unsigned.
    parameters.cb = static_cast<ULONG>(CabinetSize);
    parameters.cbFolderThresh = static_cast<ULONG>(FolderThreshold);
    parameters.cbReserveCFHeader = static_cast<UINT>(HeaderReserve);
    parameters.iCab = 1;
    parameters.iDisk = 1;
    parameters.setID = static_cast<USHORT>(SetId & 0xFFFF);

    auto context = std::make_unique<CabContext>();
    context->Comp.ProgressProc = ProgressProc;
    context->Comp.NextCabProc = NextCabProc;

    CabError = ERF{};
    if (!CopyName(parameters.szDisk, DiskName) ||
        !CopyName(parameters.szCab, platform::namePart(CabFile)) ||
        !CopyName(parameters.szCabPath, platform::folderPart(CabFile))) {
        CabError = ERF{FCIERR_CAB_FILE, static_cast<int>(platform::kErrorFilenameTooLong), TRUE};
        return nullptr;
    }

    bool created = CallService(context->Comp, [&] {
        context->Handle =
            FCICreate(&CabError, FciFilePlaced, FciAlloc, FciFree, FciOpen, FciRead, FciWrite,
                      FciClose, FciSeek, FciDelete, FciGetTempFile, &parameters, &context->Comp);
        return context->Handle != nullptr;
    });
    if (!created) {
        // A context made before a callback's exception was noticed is not handed out.
        if (context->Handle) {
            FCIDestroy(context->Handle);
            context->Handle = nullptr;
        }
        return nullptr;
    }
    return context;
}

void CabSetThreads(CabContext& Context, int Threads) {
    KPFCISetThreadCount(Context.Handle, static_cast<UINT>(Threads < 1 ? 1 : Threads));
}

void CabSetEffort(CabContext& Context, int Effort) {
    int level = Effort < kMinEffort ? kMinEffort : Effort > kMaxEffort ? kMaxEffort : Effort;
    KPFCISetEffort(Context.Handle, static_cast<UINT>(level));
}

bool CabAddFile(CabContext& Context, const std::string& SourcePath, const std::string& StoredName,
                bool Execute, TCompressionType CompType, std::int32_t LzxWindow) {
    std::string source = SourcePath;
    std::string stored = StoredName;
    return CallService(Context.Comp, [&] {
        return FCIAddFile(Context.Handle, source.data(), stored.data(), Execute ? TRUE : FALSE,
                          FciGetNextCabinet, FciStatus, FciGetOpenInfo,
                          CabCompressionType(CompType, LzxWindow)) != FALSE;
    });
}

namespace {

// Gives every completed cabinet its final name, in set order; those already renamed
// by an earlier attempt are not renamed twice.
bool CommitCabinets(CompContext& context) {
    for (StagedCabinet& cabinet : context.Cabinets) {
        if (cabinet.Committed) {
            continue;
        }
        if (!platform::renameOnto(cabinet.StagingPath, cabinet.FinalPath,
                                  context.ReplaceExisting)) {
            CabError = ERF{FCIERR_CAB_FILE, static_cast<int>(platform::lastError()), TRUE};
            return false;
        }
        cabinet.Committed = true;
    }
    context.CommitPending = false;
    return true;
}

} // namespace

bool CabFlush(CabContext& Context, bool GetNextCab, const TBeforeCommit& BeforeCommit) {
    if (!Context.Comp.CommitPending) {
        bool flushed = CallService(Context.Comp, [&] {
            return FCIFlushCabinet(Context.Handle, GetNextCab ? TRUE : FALSE, FciGetNextCabinet,
                                   FciFlushStatus) != FALSE;
        });
        if (!flushed) {
            return false;
        }
        Context.Comp.CommitPending = true;
    }
    if (BeforeCommit) {
        std::vector<std::string> staging;
        for (const StagedCabinet& cabinet : Context.Comp.Cabinets) {
            if (!cabinet.Committed) {
                staging.push_back(cabinet.StagingPath);
            }
        }
        if (!BeforeCommit(staging)) {
            CabError = ERF{FCIERR_USER_ABORT, 0, TRUE};
            return false;
        }
    }
    CabError = ERF{};
    return CommitCabinets(Context.Comp);
}

bool CabDestroy(CabContext& Context) {
    HFCI handle = Context.Handle;
    Context.Handle = nullptr;
    bool destroyed =
        CallService(Context.Comp, [&] { return handle && FCIDestroy(handle) != FALSE; });
    DiscardUnfinished(Context.Comp);
    return destroyed;
}

ERF CabLastError() {
    return CabError;
}

} // namespace kp
