// The cabinet builder: turns lists of file entries into one cabinet, or a set of
// cabinets, through the cabinet binding, and reports progress and failures through
// its four events, taking the caller's abort, skip and retry answers back from them.
#pragma once

#include "engine/CabBinding.h"
#include "engine/CompressionType.h"
#include "engine/FolderWalk.h"
#include "engine/WindowsNames.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kp {

class tkFwCAB;

using TEncodeMajorUpdate =
    std::function<void(tkFwCAB* Sender, const std::string& CabName, int Percent, bool& Abort)>;
using TEncodeMinorUpdate =
    std::function<void(tkFwCAB* Sender, const std::string& FileName, int Percent, bool& Abort)>;
using TMessageNotify =
    std::function<void(tkFwCAB* Sender, std::string& NewCabName, std::string& NewDiskName,
                       int CabNo, int& DiskNo, bool& Abort)>;
// A file that changed size while it was packed: the cabinet holds the BytesStored read.
using TSizeChangeNotify =
    std::function<void(tkFwCAB* Sender, const std::string& FileName, std::int64_t BytesStored)>;
// A file stored under a name an earlier file of the run already has (letter case
// aside, as Windows compares names): extracting one overwrites the other.
using TNameClashNotify =
    std::function<void(tkFwCAB* Sender, const std::string& FileName, const std::string& StoredName,
                       const std::string& EarlierFile)>;
// Every stored name of the run that would not come back whole on Windows, found before
// anything is compressed (see WindowsNames.h); raised only when there is one. Abort
// ends the run there, quietly: nothing is written and no error is raised.
using TWindowsNamesNotify = std::function<void(
    tkFwCAB* Sender, const std::vector<TWindowsNameReport>& Reports, bool& Abort)>;
// Every cabinet of the run is complete under its staging name (given in set order)
// and none has its final name yet: Abort keeps it so, and any earlier cabinet with it.
using TCabinetsStagedNotify =
    std::function<void(tkFwCAB* Sender, const std::vector<std::string>& StagingFiles, bool& Abort)>;
// A cabinet is being written (between chunks of its data); Abort stops the run there.
// Long writes come at the end of a run, after the last file's progress, and when a
// cabinet of a set fills up.
using TCabinetWritingNotify = std::function<void(tkFwCAB* Sender, bool& Abort)>;
using TErrorNotify = std::function<void(tkFwCAB* Sender, int ErrID, int APICode,
                                        const std::string& ErrText, int& Action)>;

// The error numbers of OnErrorNotify. A name that cannot be stored (not valid UTF-8)
// is reported as 802 with APICode platform::kErrorNoUnicodeTranslation and the text
// kInvalidNameText, the file being CurrentFile().
enum : int {
    kErrUserAbort = 801,
    kErrAddOrFlush = 802,
    kErrCreate = 803,
    kErrCabinetExists = 804,
};
// The answers OnErrorNotify reads back from Action. kActionAbort stops the run whatever
// the error; the others mean what each error's handling makes of them: a file that
// failed is left out on kActionSkip, and the flush is tried again only on kActionRetry.
// Creation and the existence test are repeated on any answer but kActionAbort, a file
// on any but kActionAbort and kActionSkip.
enum : int {
    kActionAbort = -1,
    kActionSkip = 0,
    kActionRetry = 1,
};
inline constexpr const char* kInvalidNameText = "File name is not valid UTF-8";
// A name holding a backslash, which the cabinet would take for a folder separator, is
// 802 with APICode platform::kErrorInvalidName and this text, the file being CurrentFile().
inline constexpr const char* kBackslashNameText =
    "File name holds a backslash, which a cabinet takes for a folder separator";
// A folder a walk reaches but cannot list is reported as 802 with the system's error as
// APICode and this text, the folder being CurrentFile().
inline constexpr const char* kUnreadableFolderText = "Could not read the folder";
// An entry a walk sees in a listing but cannot inspect (stat fails, say for want of
// search permission on its folder): 802 with the system's error, the entry CurrentFile().
inline constexpr const char* kUninspectableText = "Could not read the file or folder";
// A folder that became a link or another entry while the walk was in it or about to
// enter it: 802 with platform::kErrorFolderReplaced, the folder CurrentFile().
inline constexpr const char* kReplacedFolderText = "The folder was replaced during the run";

// Form descriptions store only the values that differ from a property's default,
// so the defaults stay exactly as the component has always published them, odd as
// the folder size looks (it is not a power of two).
inline constexpr std::int32_t kDefaultFolderSize = 831415;
inline constexpr std::int32_t kDefaultDiskSize = 2147483647;

// Where a run of BuildCabinet is, so that a handler can tell the run's own reports from
// those of the files it compresses without reading their texts.
enum class BuildPhase {
    Idle,      // no run
    Starting,  // existence check, context creation, the first reports
    Counting,  // the counting pass
    Adding,    // the adding pass: progress reports are the compressed files'
    Finishing, // the final reports
    Flushing,  // the flush: only it can still fail
};

class tkFwCAB {
public:
    explicit tkFwCAB(void* Owner = nullptr);
    ~tkFwCAB();
    tkFwCAB(const tkFwCAB&) = delete;
    tkFwCAB& operator=(const tkFwCAB&) = delete;

    void* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void setName(const std::string& value) { FName = value; }

    const std::string& CabFile() const { return FCabFile; }
    void setCabFile(const std::string& value) { FCabFile = value; }
    const std::string& DiskName() const { return FDiskName; }
    void setDiskName(const std::string& value) { FDiskName = value; }
    std::int32_t FolderSize() const { return FFolderSize; }
    void setFolderSize(std::int32_t value) { FFolderSize = value; }
    // Compression threads: 1 keeps all work on the calling thread; the cabinets are
    // the same for every count.
    int Threads() const { return FThreads; }
    void setThreads(int value) { FThreads = value; }
    // LZX effort, kMinEffort (the default) to kMaxEffort: higher writes smaller
    // cabinets in more time.
    int Effort() const { return FEffort; }
    void setEffort(int value) { FEffort = value; }
    std::int32_t DiskSize() const { return FDiskSize; }
    void setDiskSize(std::int32_t value) { FDiskSize = value; }
    std::int32_t Reserved() const { return FReserved; }
    void setReserved(std::int32_t value) { FReserved = value; }
    TCompressionType CompType() const { return FCompType; }
    void setCompType(TCompressionType value) { FCompType = value; }
    std::int32_t CompFactor() const { return FCompFactor; }
    void setCompFactor(std::int32_t value) { FCompFactor = value; }
    std::vector<std::string>& AddFiles() { return FAddFiles; }
    const std::vector<std::string>& AddFiles() const { return FAddFiles; }
    void setAddFiles(const std::vector<std::string>& value) { FAddFiles = value; }
    std::vector<std::string>& RecurseFiles() { return FRecurseFiles; }
    const std::vector<std::string>& RecurseFiles() const { return FRecurseFiles; }
    void setRecurseFiles(const std::vector<std::string>& value) { FRecurseFiles = value; }
    bool StorePath() const { return FStorePath; }
    void setStorePath(bool value) { FStorePath = value; }
    bool PartialPath() const { return FPartialPath; }
    void setPartialPath(bool value) { FPartialPath = value; }

    // Every cabinet of a run is written under a hidden temporary name beside its final
    // one and takes that name only when the whole set is complete; a run that fails or
    // is aborted leaves nothing of its own behind and no file of another's touched.
    // Replace false (the default): an existing CabFile is error 804, and a cabinet of
    // the set whose name has been taken meanwhile fails the run (802, error 80).
    // Replace true: an existing cabinet stays in place until the new one replaces it.
    bool Replace() const { return FReplace; }
    void setReplace(bool value) { FReplace = value; }
    // Files the run never packs, compared by device and inode, so another path or a
    // link to one of them is left out too (callers name an earlier set's cabinets).
    // The run's own cabinets and temporary files are always left out, wherever they lie.
    std::vector<std::string>& ExcludedFiles() { return FExcludedFiles; }
    void setExcludedFiles(const std::vector<std::string>& value) { FExcludedFiles = value; }

    TEncodeMajorUpdate OnMajorStatus;
    TEncodeMinorUpdate OnMinorStatus;
    TMessageNotify OnMessageNotify;
    TErrorNotify OnErrorNotify;
    TSizeChangeNotify OnSizeChange;
    TNameClashNotify OnNameClash;
    TWindowsNamesNotify OnWindowsNames;
    TCabinetsStagedNotify OnCabinetsStaged;
    TCabinetWritingNotify OnCabinetWriting;

    // Runs the whole job and returns when it is over. A call made from one of this
    // component's own event handlers while a run is going on returns at once.
    void BuildCabinet();

    // The source path of the file being added, or of the last one handled; callers use
    // it to name the file an error is about.
    const std::string& CurrentFile() const { return FCurrentFile; }
    // The name CurrentFile() is stored under in the cabinet.
    const std::string& CurrentStoredName() const { return FCurrentStoredName; }
    // Files found by the counting pass and handled so far in the current or last run.
    std::int32_t FilesFound() const { return TotalFiles; }
    std::int32_t FilesHandled() const { return DoneFiles; }
    BuildPhase Phase() const { return FPhase; }

    // The LZX window exponent that a compression factor selects: CompFactor + 14 held
    // within the windows a cabinet allows (kMinLzxWindow to kMaxLzxWindow).
    static std::int32_t LzxWindowFor(std::int32_t CompFactor);

private:
    void ResetRunState();
    bool ConfirmCabinetAbsent();
    bool CreateContext();
    std::int32_t SetIdForRun() const;
    void ReportUserAbort();
    void CountAllFiles();
    std::int32_t CountMatchingFiles(const std::string& Folder, const std::string& Mask,
                                    const std::string& BaseFolder, bool Recursive);
    void ReportWindowsNames();
    void AddAllFiles();
    void ReportCompletion();
    void FlushContext();
    void DestroyContext();

    // Folder and BaseFolder end with the separator or are empty (the current folder);
    // Folder lies within BaseFolder, the folder of the entry being walked.
    void AddMatchingFiles(const std::string& Folder, const std::string& Mask,
                          const std::string& BaseFolder, bool Recursive);
    void AddFolderFiles(WalkFolder& Folder, const std::string& Mask, const std::string& BaseFolder,
                        bool Recursive);
    bool OpenFolderForWalk(const WalkFolder* Parent, const std::string& Name, WalkFolder& Out);
    bool ConfirmEntriesInspectable(WalkFolder& Folder, const std::string& Mask, bool Recursive);
    bool ConfirmFolderInPlace(const WalkFolder& Folder);
    void AddOneFile(const std::string& Folder, const std::string& FileName,
                    const std::string& BaseFolder);
    int OverallPercent() const;
    bool IsLeftOut(const std::string& Path) const;
    void NoteStoredName(const std::string& Stored);

    void FireMajorStatus(int Percent);
    void FireMinorStatus(const std::string& FileName, int Percent);
    void FireError(int ErrID, int APICode, const std::string& ErrText, int& Action);

    void* FOwner;
    std::string FName;
    std::string FCabFile;
    std::string FDiskName;
    std::int32_t FFolderSize = kDefaultFolderSize;
    std::int32_t FDiskSize = kDefaultDiskSize;
    int FThreads = 1;
    int FEffort = kMinEffort;
    std::int32_t FReserved = 0;
    TCompressionType FCompType = ctMsZip;
    std::int32_t FCompFactor = 3;
    std::vector<std::string> FAddFiles;
    std::vector<std::string> FRecurseFiles;
    bool FStorePath = false;
    bool FPartialPath = false;
    bool FReplace = false;
    std::vector<std::string> FExcludedFiles;
    std::vector<platform::FileIdentity> ExcludedIdentities;

    bool Running = false;
    bool Aborted = false;
    std::int32_t TotalFiles = 0;
    std::int32_t DoneFiles = 0;
    std::int32_t LzxWindow = 15;
    std::unique_ptr<CabContext> Context;
    std::string FCurrentFile;
    BuildPhase FPhase = BuildPhase::Idle;
    std::string FCurrentStoredName;
    // The file each stored name of the run was first given to, keyed by the name
    // with ASCII letters folded to lower case.
    struct StoredSource {
        std::string Path;
        platform::FileIdentity Identity;
    };
    std::unordered_map<std::string, StoredSource> StoredSources;
    TWindowsNameCheck WindowsNames;
};

// The most recently constructed builder, or null once it is destroyed; the binding's
// per-file progress and next-cabinet requests reach a builder only through it.
extern tkFwCAB* CurrentCab;

// The procedures the builder hands to the binding as ProgressProc and NextCabProc.
void RelayProgress(const std::string& FileName, int Percent, bool& Abort);
void RelayWriting(bool& Abort);
void RelayNextCab(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo, bool& Abort);

} // namespace kp
