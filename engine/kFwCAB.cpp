#include "engine/kFwCAB.h"

#include "engine/FolderWalk.h"
#include "engine/StoredName.h"
#include "platform/DosTime.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>

namespace kp {

using platform::kPathSeparator;

tkFwCAB* CurrentCab = nullptr;

namespace {

// Set identifiers of the cabinets; seeded from the clock by every construction.
std::mt19937& RandomForSetIds() {
    static std::mt19937 generator;
    return generator;
}

std::int32_t DrawSetId() {
    return std::uniform_int_distribution<std::int32_t>(0, 2147483646)(RandomForSetIds());
}

// Destroys the context however BuildCabinet is left, so that an exception from a
// handler leaves no service context and no temporary file behind.
class RunGuard {
public:
    RunGuard(bool& running, BuildPhase& phase, std::unique_ptr<CabContext>& context)
        : running(running), phase(phase), context(context) {
        running = true;
    }
    ~RunGuard() {
        if (context) {
            CabDestroy(*context);
            context.reset();
        }
        running = false;
        phase = BuildPhase::Idle;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    bool& running;
    BuildPhase& phase;
    std::unique_ptr<CabContext>& context;
};

} // namespace

tkFwCAB::tkFwCAB(void* Owner) : FOwner(Owner) {
    RandomForSetIds().seed(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    CurrentCab = this;
}

// Clearing CurrentCab keeps a later run of another builder from calling into this one.
tkFwCAB::~tkFwCAB() {
    if (CurrentCab == this) {
        CurrentCab = nullptr;
    }
}

std::int32_t tkFwCAB::LzxWindowFor(std::int32_t CompFactor) {
    std::int64_t window = static_cast<std::int64_t>(CompFactor) + 14;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(window, kMinLzxWindow, kMaxLzxWindow));
}

void tkFwCAB::BuildCabinet() {
    if (Running) {
        return;
    }
    RunGuard guard(Running, FPhase, Context);

    FPhase = BuildPhase::Starting;
    ResetRunState();
    LzxWindow = LzxWindowFor(FCompFactor);
    ExcludedIdentities.clear();
    for (const std::string& path : FExcludedFiles) {
        platform::FileIdentity identity;
        if (platform::identityOf(path, identity)) {
            ExcludedIdentities.push_back(identity);
        }
    }
    if ((!FReplace && !ConfirmCabinetAbsent()) || !CreateContext()) {
        return;
    }
    FireMajorStatus(0);
    if (!Aborted) {
        FireMinorStatus("Scanning...", 0);
    }
    if (Aborted) {
        ReportUserAbort();
        DestroyContext();
        return;
    }
    FPhase = BuildPhase::Counting;
    CountAllFiles();
    ReportWindowsNames();
    FPhase = BuildPhase::Adding;
    AddAllFiles();
    FPhase = BuildPhase::Finishing;
    ReportCompletion();
    if (!Aborted) {
        FPhase = BuildPhase::Flushing;
        FlushContext();
    }
    DestroyContext();
}

void tkFwCAB::ResetRunState() {
    Aborted = false;
    DoneFiles = 0;
    TotalFiles = 0;
    FCurrentFile.clear();
    FCurrentStoredName.clear();
    StoredSources.clear();
    WindowsNames.Clear();
}

bool tkFwCAB::ConfirmCabinetAbsent() {
    while (platform::fileExists(FCabFile)) {
        int Action = kActionAbort;
        FireError(kErrCabinetExists, 0, "Cabinet already exists", Action);
        if (Action == kActionAbort) {
            return false;
        }
    }
    return true;
}

bool tkFwCAB::CreateContext() {
    int Action = kActionAbort;
    do {
        Action = kActionAbort;
        Context = CabCreate(FCabFile, FDiskName, FFolderSize, FDiskSize, SetIdForRun(), FReserved,
                            RelayProgress, RelayNextCab);
        if (Context) {
            Context->Comp.ReplaceExisting = FReplace;
            Context->Comp.WritingProc = RelayWriting;
            CabSetThreads(*Context, FThreads);
            CabSetEffort(*Context, FEffort);
        } else {
            ERF error = CabLastError();
            FireError(kErrCreate, error.erfType, CabErrorText(error), Action);
        }
    } while (!Context && Action != kActionAbort);
    return Context != nullptr;
}

// Under SOURCE_DATE_EPOCH the ID is a hash (FNV-1a) of what was asked for, so that a
// rerun over the same inputs writes the same bytes; otherwise sets are told apart by chance.
std::int32_t tkFwCAB::SetIdForRun() const {
    std::optional<std::time_t> epoch = platform::sourceDateEpoch();
    if (!epoch) {
        return DrawSetId();
    }
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](const std::string& text) {
        for (unsigned char c : text) {
            hash = (hash ^ c) * 16777619u;
        }
        hash = (hash ^ 0xFFu) * 16777619u; // keeps "ab","c" apart from "a","bc"
    };
    mix(std::to_string(*epoch));
    for (const std::string& path : FAddFiles) {
        mix(path);
    }
    mix("");
    for (const std::string& path : FRecurseFiles) {
        mix(path);
    }
    return static_cast<std::int32_t>(hash & 0x7FFFFFFF);
}

void tkFwCAB::ReportUserAbort() {
    int Action = kActionAbort;
    FireError(kErrUserAbort, 0, "User abort", Action);
}

// Both passes walk copies of the lists, so a handler that edits a list cannot pull
// an entry away from under the walk.
void tkFwCAB::CountAllFiles() {
    const std::vector<std::string> addEntries = FAddFiles;
    const std::vector<std::string> recurseEntries = FRecurseFiles;
    for (const std::string& entry : addEntries) {
        std::string folder = platform::folderPart(entry);
        TotalFiles += CountMatchingFiles(folder, platform::namePart(entry), folder, false);
    }
    for (const std::string& entry : recurseEntries) {
        std::string folder = platform::folderPart(entry);
        TotalFiles += CountMatchingFiles(folder, platform::namePart(entry), folder, true);
    }
}

// The counting walk takes the same files as the adding walk, so it also learns every
// name the run will store while nothing is compressed yet.
std::int32_t tkFwCAB::CountMatchingFiles(const std::string& Folder, const std::string& Mask,
                                         const std::string& BaseFolder, bool Recursive) {
    std::int32_t count = 0;
    if (Recursive) {
        for (const std::string& name : EnteredSubFolders(Folder)) {
            count += CountMatchingFiles(Folder + name + kPathSeparator, Mask, BaseFolder, true);
        }
    }
    for (const std::string& name : MatchingFiles(Folder, Mask)) {
        ++count;
        if (OnWindowsNames && !IsLeftOut(Folder + name)) {
            WindowsNames.Add(Folder + name,
                             StoredPath(Folder, name, BaseFolder, FStorePath, FPartialPath));
        }
    }
    return count;
}

void tkFwCAB::ReportWindowsNames() {
    if (!OnWindowsNames || Aborted) {
        return;
    }
    std::vector<TWindowsNameReport> reports = WindowsNames.Reports();
    WindowsNames.Clear();
    if (!reports.empty()) {
        OnWindowsNames(this, reports, Aborted);
    }
}

void tkFwCAB::AddAllFiles() {
    const std::vector<std::string> addEntries = FAddFiles;
    const std::vector<std::string> recurseEntries = FRecurseFiles;
    for (const std::string& entry : addEntries) {
        if (Aborted) {
            return;
        }
        std::string folder = platform::folderPart(entry);
        AddMatchingFiles(folder, platform::namePart(entry), folder, false);
    }
    for (const std::string& entry : recurseEntries) {
        if (Aborted) {
            return;
        }
        std::string folder = platform::folderPart(entry);
        AddMatchingFiles(folder, platform::namePart(entry), folder, true);
    }
}

void tkFwCAB::ReportCompletion() {
    if (!Aborted) {
        FireMajorStatus(100);
    }
    if (!Aborted) {
        FireMinorStatus("", 100);
    }
}

void tkFwCAB::FlushContext() {
    int Action = kActionAbort;
    bool flushed = false;
    bool refused = false;
    TBeforeCommit approve;
    if (OnCabinetsStaged) {
        approve = [this, &refused](const std::vector<std::string>& staging) {
            bool abort = false;
            OnCabinetsStaged(this, staging, abort);
            refused = abort;
            return !abort;
        };
    }
    do {
        Action = kActionAbort;
        flushed = CabFlush(*Context, false, approve);
        if (refused) {
            Aborted = true; // the handler said why; the staged set is discarded
            return;
        }
        if (!flushed) {
            ERF error = CabLastError();
            if (error.erfOper == FCIERR_USER_ABORT) {
                // A handler stopped the writing of the last cabinet.
                Aborted = true;
                ReportUserAbort();
                return;
            }
            FireError(kErrAddOrFlush, error.erfType, CabErrorText(error), Action);
        }
    } while (!flushed && Action == kActionRetry);
}

void tkFwCAB::DestroyContext() {
    if (Context) {
        CabDestroy(*Context);
        Context.reset();
    }
}

void tkFwCAB::AddMatchingFiles(const std::string& Folder, const std::string& Mask,
                               const std::string& BaseFolder, bool Recursive) {
    WalkFolder top;
    if (OpenFolderForWalk(nullptr, Folder, top)) {
        AddFolderFiles(top, Mask, BaseFolder, Recursive);
    }
}

// Every step below goes through the folder's open handle; only a file itself is opened
// by its path, once that path is seen to still lead into the folder listed.
void tkFwCAB::AddFolderFiles(WalkFolder& Folder, const std::string& Mask,
                             const std::string& BaseFolder, bool Recursive) {
    WalkStep(Folder.Path());
    if (!ConfirmEntriesInspectable(Folder, Mask, Recursive)) {
        return;
    }
    if (Recursive) {
        for (const std::string& name : EnteredSubFolders(Folder)) {
            if (Aborted) {
                return;
            }
            WalkFolder sub;
            if (OpenFolderForWalk(&Folder, name, sub)) {
                AddFolderFiles(sub, Mask, BaseFolder, true);
            }
        }
    }
    for (const std::string& name : MatchingFiles(Folder, Mask)) {
        if (Aborted || !ConfirmFolderInPlace(Folder)) {
            return;
        }
        if (!IsLeftOut(Folder.Path() + name)) {
            AddOneFile(Folder.Path(), name, BaseFolder);
        }
    }
}

// A folder that cannot be opened or listed would pass for an empty one and its files
// be missing from a cabinet that looks complete; one that has become a link is not
// followed. The handler retries (1), skips it (0) or aborts (-1). Parent null: Name is
// the walk's top folder, opened by its path.
bool tkFwCAB::OpenFolderForWalk(const WalkFolder* Parent, const std::string& Name,
                                WalkFolder& Out) {
    for (;;) {
        std::uint32_t error = 0;
        bool opened = Parent ? OpenWalkSubFolder(*Parent, Name, Out, error)
                             : OpenWalkFolder(Name, Out, error);
        if (opened) {
            return true;
        }
        if (error == platform::kErrorPathNotFound) {
            return false; // gone since it was found: nothing to take
        }
        FCurrentFile = Parent ? Parent->Path() + Name + kPathSeparator : Name;
        FCurrentStoredName.clear();
        int Action = kActionSkip;
        FireError(kErrAddOrFlush, static_cast<int>(error),
                  error == platform::kErrorFolderReplaced ? kReplacedFolderText
                                                          : kUnreadableFolderText,
                  Action);
        if (Action == kActionAbort) {
            Aborted = true;
        }
        if (Action != kActionRetry) {
            return false;
        }
    }
}

// An entry seen in the listing that cannot be inspected (its folder lacks search
// permission, say) might be a file the user expects in the cabinet: it is reported by
// its path, and a retry lists the folder again.
bool tkFwCAB::ConfirmEntriesInspectable(WalkFolder& Folder, const std::string& Mask,
                                        bool Recursive) {
    std::vector<std::string> skipped;
    for (;;) {
        std::vector<const platform::FoundEntry*> unreadable =
            UninspectableEntries(Folder, Mask, Recursive);
        std::erase_if(unreadable, [&skipped](const platform::FoundEntry* entry) {
            return std::find(skipped.begin(), skipped.end(), entry->name) != skipped.end();
        });
        if (unreadable.empty()) {
            return true;
        }
        const platform::FoundEntry& entry = *unreadable.front();
        FCurrentFile = Folder.Path() + entry.name;
        FCurrentStoredName.clear();
        int Action = kActionSkip;
        FireError(kErrAddOrFlush, static_cast<int>(entry.error), kUninspectableText, Action);
        if (Action == kActionAbort) {
            Aborted = true;
            return false;
        }
        if (Action == kActionSkip) {
            skipped.push_back(entry.name);
            continue;
        }
        std::uint32_t error = 0;
        while (!RelistWalkFolder(Folder, error)) {
            FCurrentFile = Folder.Path();
            Action = kActionSkip;
            FireError(kErrAddOrFlush, static_cast<int>(error), kUnreadableFolderText, Action);
            if (Action == kActionAbort) {
                Aborted = true;
            }
            if (Action != kActionRetry) {
                return false;
            }
        }
    }
}

// Files are opened by their paths, so before each one the folder's path must still
// lead to the folder listed: one renamed or swapped for a link meanwhile is reported,
// never read through.
bool tkFwCAB::ConfirmFolderInPlace(const WalkFolder& Folder) {
    while (!Folder.Handle.stillAtPath()) {
        FCurrentFile = Folder.Path();
        FCurrentStoredName.clear();
        int Action = kActionSkip;
        FireError(kErrAddOrFlush, static_cast<int>(platform::kErrorFolderReplaced),
                  kReplacedFolderText, Action);
        if (Action == kActionAbort) {
            Aborted = true;
        }
        if (Action != kActionRetry) {
            return false;
        }
    }
    return true;
}

// A file this run writes (a cabinet being staged, a temporary file) or one the caller
// excluded; the counting pass still counts it, so the percent may stop short of 100
// until the final report.
bool tkFwCAB::IsLeftOut(const std::string& Path) const {
    platform::FileIdentity identity;
    if (!platform::identityOf(Path, identity)) {
        return false; // gone: adding it reports the failure
    }
    for (const platform::FileIdentity& excluded : ExcludedIdentities) {
        if (excluded == identity) {
            return true;
        }
    }
    if (Context) {
        for (const platform::FileIdentity& written : Context->Comp.Written) {
            if (written == identity) {
                return true;
            }
        }
    }
    return false;
}

void tkFwCAB::AddOneFile(const std::string& Folder, const std::string& FileName,
                         const std::string& BaseFolder) {
    std::string stored = StoredName(Folder, FileName, BaseFolder, FStorePath, FPartialPath);
    FCurrentFile = Folder + FileName;
    FCurrentStoredName = stored;
    int Action = kActionSkip;
    do {
        Action = kActionSkip;
        if (!platform::isValidUtf8(stored)) {
            // Stored with the UTF-8 flag, the bytes would come out under another name,
            // and two such names could come out as one.
            FireError(kErrAddOrFlush, static_cast<int>(platform::kErrorNoUnicodeTranslation),
                      kInvalidNameText, Action);
            continue;
        }
        if (StoredPath(Folder, FileName, BaseFolder, FStorePath, FPartialPath).find('\\') !=
            std::string::npos) {
            FireError(kErrAddOrFlush, static_cast<int>(platform::kErrorInvalidName),
                      kBackslashNameText, Action);
            continue;
        }
        bool added = CabAddFile(*Context, FCurrentFile, stored, false, FCompType, LzxWindow);
        if (added && Context->Comp.SourceSizeChanged && OnSizeChange) {
            OnSizeChange(this, FCurrentFile, Context->Comp.SourceBytesRead);
        }
        if (added) {
            NoteStoredName(stored);
        }
        if (!added && OnErrorNotify) {
            ERF error = CabLastError();
            if (error.erfOper == FCIERR_USER_ABORT) {
                FireError(kErrUserAbort, 0, "User abort", Action);
                Action = kActionAbort;
            } else {
                FireError(kErrAddOrFlush, error.erfType, CabErrorText(error), Action);
            }
        }
    } while (Action != kActionAbort && Action != kActionSkip);
    if (Action == kActionAbort) {
        Aborted = true;
    }
    if (!Aborted) {
        ++DoneFiles;
        FireMajorStatus(OverallPercent());
    }
}

// The same file reached twice under one name extracts as it was; only another
// file's bytes under that name would be lost.
void tkFwCAB::NoteStoredName(const std::string& Stored) {
    std::string key = Stored;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    StoredSource source{FCurrentFile, {}};
    platform::identityOf(FCurrentFile, source.Identity);
    auto [earlier, first] = StoredSources.try_emplace(key, source);
    bool sameFile =
        earlier->second.Path == source.Path || (source.Identity != platform::FileIdentity{} &&
                                                earlier->second.Identity == source.Identity);
    if (!first && !sameFile && OnNameClash) {
        OnNameClash(this, FCurrentFile, Stored, earlier->second.Path);
    }
}

// Files created between the counting and the adding pass can make TotalFiles 0 or
// smaller than DoneFiles; the first reads as done, the second may exceed 100.
int tkFwCAB::OverallPercent() const {
    if (TotalFiles <= 0) {
        return 100;
    }
    return static_cast<int>(static_cast<std::int64_t>(DoneFiles) * 100 / TotalFiles);
}

void tkFwCAB::FireMajorStatus(int Percent) {
    if (OnMajorStatus) {
        std::string cabName = FCabFile;
        OnMajorStatus(this, cabName, Percent, Aborted);
    }
}

void tkFwCAB::FireMinorStatus(const std::string& FileName, int Percent) {
    if (OnMinorStatus) {
        OnMinorStatus(this, FileName, Percent, Aborted);
    }
}

void tkFwCAB::FireError(int ErrID, int APICode, const std::string& ErrText, int& Action) {
    if (OnErrorNotify) {
        OnErrorNotify(this, ErrID, APICode, ErrText, Action);
    }
}

void RelayProgress(const std::string& FileName, int Percent, bool& Abort) {
    if (CurrentCab && CurrentCab->OnMinorStatus) {
        CurrentCab->OnMinorStatus(CurrentCab, FileName, Percent, Abort);
    }
}

void RelayWriting(bool& Abort) {
    if (CurrentCab && CurrentCab->OnCabinetWriting) {
        CurrentCab->OnCabinetWriting(CurrentCab, Abort);
    }
}

void RelayNextCab(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo,
                  bool& Abort) {
    tkFwCAB* cab = CurrentCab;
    if (cab && cab->OnMessageNotify) {
        cab->OnMessageNotify(cab, CabName, DiskName, CabNo, DiskNo, Abort);
        cab->setCabFile(platform::folderPart(cab->CabFile()) + CabName);
    }
}

} // namespace kp
