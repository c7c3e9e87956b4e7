// The binding between the cabinet builder and the cabinet service (fci.h): four
// operations over the service's entry points, its error record and texts, and the
// callbacks that do the service's file and memory work on the platform layer.
#pragma once

#include "engine/CompressionType.h"
#include "fci.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kp {

// Per-file progress, called for every compressed block of the file being added.
using TProgressProc = void (*)(const std::string& FileName, int Percent, bool& Abort);
// The service is about to start the next cabinet of a set and asks for its names.
using TNextCabProc = void (*)(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo,
                              bool& Abort);

// Handed to the service as the user pointer of a context and passed back to every
// callback; it follows the file the service opened last.
struct CompContext {
    std::string FileName;
    // 64-bit, so that a file of 2 GiB or more (or of a multiple of 4 GiB) still gives
    // a true percentage instead of a negative one or a division by zero.
    std::int64_t FileSize = 0;
    std::int64_t BytesDone = 0;
    TProgressProc ProgressProc = nullptr;
    TNextCabProc NextCabProc = nullptr;
    // A callback caught an exception and failed; the service call then reports nothing.
    bool ExceptionCaught = false;
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
bool CabAddFile(CabContext& Context, const std::string& SourcePath, const std::string& StoredName,
                bool Execute, TCompressionType CompType, std::int32_t LzxWindow);
bool CabFlush(CabContext& Context, bool GetNextCab);
bool CabDestroy(CabContext& Context);
ERF CabLastError();
std::string CabErrorText(const ERF& Error);

// The service's compression type: the method's ordinal, and for LZX the window above it.
TCOMP CabCompressionType(TCompressionType CompType, std::int32_t LzxWindow);

} // namespace kp
