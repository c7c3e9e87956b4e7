// A client of the file compression interface for tests: real files under a
// scratch folder, generated sources for sizes no test should write to disk, and
// switches that make a chosen callback fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fci.h"

namespace kp::test {

struct GeneratedSource {
    std::uint64_t size;
    std::function<void(std::uint64_t offset, std::uint8_t* out, std::size_t n)> fill;
};

struct StatusReport {
    UINT type;
    ULONG cb1;
    ULONG cb2;
};

class FciClient {
public:
    explicit FciClient(std::filesystem::path scratch);
    ~FciClient();

    // A CCAB for `name` in the scratch folder, set members as given.
    CCAB cabinet(const std::string& name, ULONG cb = 0x7FFFFFFF, ULONG threshold = 0x7FFFFFFF);
    HFCI create(CCAB& ccab);
    bool add(HFCI h, const std::string& source, const std::string& stored, TCOMP comp,
             bool execute = false);
    bool flushCabinet(HFCI h, bool next = false);
    bool flushFolder(HFCI h);

    std::filesystem::path path(const std::string& name) const { return scratch_ / name; }
    std::filesystem::path writeFile(const std::string& name,
                                    const std::vector<std::uint8_t>& bytes);
    // Writes `bytes` as a new source file and adds it as `stored`; on success the
    // pair is appended to `added`, the list the decoders' results are checked against.
    bool addBytes(HFCI h, const std::string& stored, const std::vector<std::uint8_t>& bytes,
                  TCOMP comp,
                  std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& added);

    ERF erf{};
    // Worker threads asked for at create(); KP_FCI_THREADS sets the default, else 1.
    unsigned threads;
    std::map<std::string, GeneratedSource> generated; // source names starting with "gen:"

    // Failure switches.
    std::string failOpenOf;                  // a source whose open fails with error 5
    std::int64_t failSourceReadAfter = -1;   // source reads fail once this many bytes were read
    std::int64_t failCabinetWriteAfter = -1; // writes to *.cab fail past this many bytes
    int failTempFileAt = -1;                 // the n-th GetTempFile call (0-based) fails
    std::int64_t failTempWriteAfter = -1;    // writes to temporary files fail past this many bytes
    int abortAtStatus = -1;                  // the n-th statusFile report answers -1
    int refuseNextCabinetAt = -1; // the n-th GetNextCabinet call (1-based iCab) answers false
    std::string nextCabinetPattern = "set%d.cab";
    bool takesNoNextCabinet = false;    // calls pass no GetNextCabinet callback
    std::function<void()> onStatusFile; // runs inside a statusFile report

    // What happened.
    std::vector<StatusReport> statuses;
    std::vector<std::string> placed; // stored names as FilePlaced reported them
    std::vector<std::string> cabinetsAskedFor;
    std::set<std::string> tempFilesGiven;
    // The most bytes the temporary files held together at any moment.
    std::uint64_t peakTempBytes = 0;
    int openHandles() const { return int(handles_.size()); }
    // After FCIDestroy: no handle open, no block allocated, no temporary file left.
    void expectNothingLeft() const;
    static long liveAllocations();
    // Callbacks made on another thread than the one that built the last client.
    static long foreignThreadCallbacks();

private:
    struct Handle {
        int fd = -1;
        const GeneratedSource* gen = nullptr;
        std::uint64_t pos = 0;
        bool isCabinet = false;
        bool isSource = false;
        bool isTemp = false;
        std::uint64_t written = 0;
    };

    static FNFCIALLOC(onAlloc);
    static FNFCIFREE(onFree);
    static FNFCIOPEN(onOpen);
    static FNFCIREAD(onRead);
    static FNFCIWRITE(onWrite);
    static FNFCICLOSE(onClose);
    static FNFCISEEK(onSeek);
    static FNFCIDELETE(onDelete);
    static FNFCIGETTEMPFILE(onTempFile);
    static FNFCIFILEPLACED(onFilePlaced);
    static FNFCIGETNEXTCABINET(onNextCabinet);
    static FNFCISTATUS(onStatus);
    static FNFCIGETOPENINFO(onOpenInfo);

    INT_PTR addHandle(Handle h);

    std::filesystem::path scratch_;
    std::map<INT_PTR, Handle> handles_;
    INT_PTR nextHandle_ = 100;
    int tempCalls_ = 0;
    int fileStatuses_ = 0;
    std::uint64_t tempWritten_ = 0;
};

// A scratch folder of its own for the running test.
std::filesystem::path scratchFor(const std::string& tag);

// Deterministic test data.
std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed);
std::vector<std::uint8_t> textBytes(std::size_t n, std::uint32_t seed);

} // namespace kp::test
