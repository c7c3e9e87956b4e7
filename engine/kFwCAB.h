// The cabinet builder: turns lists of file entries into one cabinet, or a set of
// cabinets, through the cabinet binding, and reports progress and failures through
// its four events, taking the caller's abort, skip and retry answers back from them.
#pragma once

#include "engine/CabBinding.h"
#include "engine/CompressionType.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class tkFwCAB;

using TEncodeMajorUpdate =
    std::function<void(tkFwCAB* Sender, const std::string& CabName, int Percent, bool& Abort)>;
using TEncodeMinorUpdate =
    std::function<void(tkFwCAB* Sender, const std::string& FileName, int Percent, bool& Abort)>;
using TMessageNotify =
    std::function<void(tkFwCAB* Sender, std::string& NewCabName, std::string& NewDiskName,
                       int CabNo, int& DiskNo, bool& Abort)>;
using TErrorNotify = std::function<void(tkFwCAB* Sender, int ErrID, int APICode,
                                        const std::string& ErrText, int& Action)>;

// The error numbers of OnErrorNotify.
enum : int {
    kErrUserAbort = 801,
    kErrAddOrFlush = 802,
    kErrCreate = 803,
    kErrCabinetExists = 804,
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

    TEncodeMajorUpdate OnMajorStatus;
    TEncodeMinorUpdate OnMinorStatus;
    TMessageNotify OnMessageNotify;
    TErrorNotify OnErrorNotify;

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

    // The LZX window exponent that a compression factor selects, 15 to 21.
    static std::int32_t LzxWindowFor(std::int32_t CompFactor);

private:
    void ResetRunState();
    bool ConfirmCabinetAbsent();
    bool CreateContext();
    void ReportUserAbort();
    void CountAllFiles();
    void AddAllFiles();
    void ReportCompletion();
    void FlushContext();
    void DestroyContext();

    std::int32_t CountFiles(const std::string& Folder, const std::string& Mask, bool Recursive);
    void AddMatchingFiles(const std::string& Folder, const std::string& Mask,
                          const std::string& BaseFolder, bool Recursive);
    void AddOneFile(const std::string& Folder, const std::string& FileName,
                    const std::string& BaseFolder);
    std::vector<std::string> SubFolders(const std::string& Folder);
    int OverallPercent() const;

    void FireMajorStatus(int Percent);
    void FireMinorStatus(const std::string& FileName, int Percent);
    void FireError(int ErrID, int APICode, const std::string& ErrText, int& Action);

    void* FOwner;
    std::string FName;
    std::string FCabFile;
    std::string FDiskName;
    std::int32_t FFolderSize = 831415;
    std::int32_t FDiskSize = 2147483647;
    std::int32_t FReserved = 0;
    TCompressionType FCompType = ctMsZip;
    std::int32_t FCompFactor = 3;
    std::vector<std::string> FAddFiles;
    std::vector<std::string> FRecurseFiles;
    bool FStorePath = false;
    bool FPartialPath = false;

    bool Running = false;
    bool Aborted = false;
    std::int32_t TotalFiles = 0;
    std::int32_t DoneFiles = 0;
    std::int32_t LzxWindow = 15;
    std::unique_ptr<CabContext> Context;
    std::string FCurrentFile;
    std::string FCurrentStoredName;
};

// The most recently constructed builder, or null once it is destroyed; the binding's
// per-file progress and next-cabinet requests reach a builder only through it.
extern tkFwCAB* CurrentCab;

// The procedures the builder hands to the binding as ProgressProc and NextCabProc.
void RelayProgress(const std::string& FileName, int Percent, bool& Abort);
void RelayNextCab(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo, bool& Abort);
