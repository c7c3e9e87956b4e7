#include "engine/kFwCAB.h"

#include "engine/EntryPaths.h"
#include "platform/DirectorySearch.h"
#include "platform/Files.h"

#include <chrono>
#include <random>

using namespace kp::platform;

tkFwCAB* CurrentCab = nullptr;

namespace {

// Set identifiers of the cabinets; seeded from the clock by every construction.
std::mt19937& setIdGenerator() {
    static std::mt19937 generator;
    return generator;
}

std::int32_t DrawSetId() {
    return std::uniform_int_distribution<std::int32_t>(0, 2147483646)(setIdGenerator());
}

// Destroys the context however BuildCabinet is left, so that an exception from a
// handler leaves no service context and no temporary file behind.
class RunGuard {
public:
    RunGuard(bool& running, std::unique_ptr<CabContext>& context)
        : running(running), context(context) {
        running = true;
    }
    ~RunGuard() {
        if (context) {
            CabDestroy(*context);
            context.reset();
        }
        running = false;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    bool& running;
    std::unique_ptr<CabContext>& context;
};

} // namespace

tkFwCAB::tkFwCAB(void* Owner) : FOwner(Owner) {
    setIdGenerator().seed(static_cast<std::mt19937::result_type>(
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
    if (window > 21) {
        window = 21;
    }
    if (window < 15) {
        window = 15;
    }
    return static_cast<std::int32_t>(window);
}

void tkFwCAB::BuildCabinet() {
    if (Running) {
        return;
    }
    RunGuard guard(Running, Context);

    ResetRunState();                       // 1
    LzxWindow = LzxWindowFor(FCompFactor); // 2
    if (!ConfirmCabinetAbsent()) {         // 3
        return;
    }
    if (!CreateContext()) { // 4
        return;
    }
    FireMajorStatus(0); // 5
    if (!Aborted) {     // 6
        FireMinorStatus("Scanning...", 0);
    }
    if (Aborted) { // 7
        ReportUserAbort();
        DestroyContext();
        return;
    }
    CountAllFiles();    // 8
    AddAllFiles();      // 9
    ReportCompletion(); // 10
    if (!Aborted) {     // 11
        FlushContext();
    }
    DestroyContext(); // 12
}

void tkFwCAB::ResetRunState() {
    Aborted = false;
    DoneFiles = 0;
    TotalFiles = 0;
    FCurrentFile.clear();
    FCurrentStoredName.clear();
}

bool tkFwCAB::ConfirmCabinetAbsent() {
    while (fileExists(FCabFile)) {
        int Action = -1;
        FireError(kErrCabinetExists, 0, "Cabinet already exists", Action);
        if (Action == -1) {
            return false;
        }
    }
    return true;
}

bool tkFwCAB::CreateContext() {
    int Action = -1;
    do {
        Action = -1;
        Context = CabCreate(FCabFile, FDiskName, FFolderSize, FDiskSize, DrawSetId(), FReserved,
                            RelayProgress, RelayNextCab);
        if (!Context) {
            ERF error = CabLastError();
            FireError(kErrCreate, error.erfType, CabErrorText(error), Action);
        }
    } while (!Context && Action != -1);
    return Context != nullptr;
}

void tkFwCAB::ReportUserAbort() {
    int Action = -1;
    FireError(kErrUserAbort, 0, "User abort", Action);
}

// Both passes walk copies of the lists, so a handler that edits a list cannot pull
// an entry away from under the walk.
void tkFwCAB::CountAllFiles() {
    const std::vector<std::string> addEntries = FAddFiles;
    const std::vector<std::string> recurseEntries = FRecurseFiles;
    for (const std::string& entry : addEntries) {
        TotalFiles += CountFiles(EntryFolder(entry), EntryMask(entry), false);
    }
    for (const std::string& entry : recurseEntries) {
        TotalFiles += CountFiles(EntryFolder(entry), EntryMask(entry), true);
    }
}

void tkFwCAB::AddAllFiles() {
    const std::vector<std::string> addEntries = FAddFiles;
    const std::vector<std::string> recurseEntries = FRecurseFiles;
    for (const std::string& entry : addEntries) {
        if (Aborted) {
            return;
        }
        std::string folder = EntryFolder(entry);
        AddMatchingFiles(folder, EntryMask(entry), folder, false);
    }
    for (const std::string& entry : recurseEntries) {
        if (Aborted) {
            return;
        }
        std::string folder = EntryFolder(entry);
        AddMatchingFiles(folder, EntryMask(entry), folder, true);
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
    int Action = -1;
    bool flushed = false;
    do {
        Action = -1;
        flushed = CabFlush(*Context, false);
        if (!flushed) {
            ERF error = CabLastError();
            FireError(kErrAddOrFlush, error.erfType, CabErrorText(error), Action);
        }
    } while (!flushed && Action == 1);
}

void tkFwCAB::DestroyContext() {
    if (Context) {
        CabDestroy(*Context);
        Context.reset();
    }
}

// Hidden and system folders, and links to folders, are not entered.
std::vector<std::string> tkFwCAB::SubFolders(const std::string& Folder) {
    std::vector<FoundEntry> entries;
    findEntries(Folder + "*.*", kAttrDirectory, entries);
    std::vector<std::string> names;
    for (const FoundEntry& entry : entries) {
        if ((entry.attributes & kAttrDirectory) && entry.name != "." && entry.name != "..") {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::int32_t tkFwCAB::CountFiles(const std::string& Folder, const std::string& Mask,
                                 bool Recursive) {
    std::int32_t count = 0;
    if (Recursive) {
        for (const std::string& name : SubFolders(Folder)) {
            count += CountFiles(Folder + name + kPathSeparator, Mask, true);
        }
    }
    std::vector<FoundEntry> entries;
    findEntries(Folder + Mask, kAttrAnyFile, entries);
    for (const FoundEntry& entry : entries) {
        if (!(entry.attributes & kAttrDirectory)) {
            ++count;
        }
    }
    return count;
}

void tkFwCAB::AddMatchingFiles(const std::string& Folder, const std::string& Mask,
                               const std::string& BaseFolder, bool Recursive) {
    if (Recursive) {
        for (const std::string& name : SubFolders(Folder)) {
            AddMatchingFiles(Folder + name + kPathSeparator, Mask, BaseFolder, true);
        }
    }
    std::vector<FoundEntry> entries;
    findEntries(Folder + Mask, kAttrAnyFile, entries);
    for (const FoundEntry& entry : entries) {
        if (Aborted) {
            return;
        }
        if (!(entry.attributes & kAttrDirectory)) {
            AddOneFile(Folder, entry.name, BaseFolder);
        }
    }
}

void tkFwCAB::AddOneFile(const std::string& Folder, const std::string& FileName,
                         const std::string& BaseFolder) {
    std::string stored = StoredName(Folder, FileName, BaseFolder, FStorePath, FPartialPath);
    FCurrentFile = Folder + FileName;
    FCurrentStoredName = stored;
    int Action = 0;
    do {
        Action = 0;
        bool added = CabAddFile(*Context, FCurrentFile, stored, false, FCompType, LzxWindow);
        if (!added && OnErrorNotify) {
            ERF error = CabLastError();
            if (error.erfOper == FCIERR_USER_ABORT) {
                FireError(kErrUserAbort, 0, "User abort", Action);
                Action = -1;
            } else {
                FireError(kErrAddOrFlush, error.erfType, CabErrorText(error), Action);
            }
        }
    } while (Action != -1 && Action != 0);
    if (Action == -1) {
        Aborted = true;
    }
    if (!Aborted) {
        ++DoneFiles;
        FireMajorStatus(OverallPercent());
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

void RelayNextCab(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo,
                  bool& Abort) {
    tkFwCAB* cab = CurrentCab;
    if (cab && cab->OnMessageNotify) {
        cab->OnMessageNotify(cab, CabName, DiskName, CabNo, DiskNo, Abort);
        cab->setCabFile(CabFolderPart(cab->CabFile()) + CabName);
    }
}
