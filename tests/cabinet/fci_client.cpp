#include "fci_client.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kp::test {
namespace {
std::atomic<long> gLiveAllocations{0};
std::atomic<long> gForeignCallbacks{0};
std::thread::id gCallerThread;

// Every callback must come from the thread that called the FCI function: the
// tests call from the thread that made the client.
void noteThread() {
    if (std::this_thread::get_id() != gCallerThread) {
        ++gForeignCallbacks;
    }
}

// KP_FCI_THREADS runs a whole suite with worker threads.
unsigned threadsFromEnvironment() {
    const char* value = std::getenv("KP_FCI_THREADS");
    int n = value ? std::atoi(value) : 1;
    return n > 0 ? unsigned(n) : 1u;
}
FciClient* self(void* pv) {
    return static_cast<FciClient*>(pv);
}
} // namespace

long FciClient::foreignThreadCallbacks() {
    return gForeignCallbacks.load();
}

long FciClient::liveAllocations() {
    return gLiveAllocations.load();
}

FciClient::FciClient(std::filesystem::path scratch)
    : threads(threadsFromEnvironment()), scratch_(std::move(scratch)) {
    gCallerThread = std::this_thread::get_id();
    gForeignCallbacks = 0;
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_);
}

FciClient::~FciClient() {
    for (auto& [h, handle] : handles_) {
        if (handle.fd >= 0) {
            ::close(handle.fd);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
}

CCAB FciClient::cabinet(const std::string& name, ULONG cb, ULONG threshold) {
    CCAB ccab{};
    ccab.cb = cb;
    ccab.cbFolderThresh = threshold;
    ccab.iCab = 1;
    ccab.iDisk = 1;
    ccab.setID = 4242;
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", name.c_str());
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", scratch_.c_str());
    return ccab;
}

HFCI FciClient::create(CCAB& ccab) {
    HFCI h = FCICreate(&erf, onFilePlaced, onAlloc, onFree, onOpen, onRead, onWrite, onClose,
                       onSeek, onDelete, onTempFile, &ccab, this);
    if (h && threads != 1) {
        EXPECT_TRUE(KPFCISetThreadCount(h, threads));
    }
    return h;
}

bool FciClient::add(HFCI h, const std::string& source, const std::string& stored, TCOMP comp,
                    bool execute) {
    return FCIAddFile(h, const_cast<char*>(source.c_str()), const_cast<char*>(stored.c_str()),
                      execute, takesNoNextCabinet ? nullptr : onNextCabinet, onStatus, onOpenInfo,
                      comp);
}

bool FciClient::flushCabinet(HFCI h, bool next) {
    return FCIFlushCabinet(h, next, onNextCabinet, onStatus);
}

bool FciClient::flushFolder(HFCI h) {
    return FCIFlushFolder(h, onNextCabinet, onStatus);
}

std::filesystem::path FciClient::writeFile(const std::string& name,
                                           const std::vector<std::uint8_t>& bytes) {
    auto p = scratch_ / name;
    std::filesystem::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    }
    std::fclose(f);
    return p;
}

bool FciClient::addBytes(HFCI h, const std::string& stored, const std::vector<std::uint8_t>& bytes,
                         TCOMP comp,
                         std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& added) {
    auto src = writeFile("src/" + std::to_string(added.size()), bytes);
    if (!add(h, src, stored, comp)) {
        return false;
    }
    added.emplace_back(stored, bytes);
    return true;
}

void FciClient::expectNothingLeft() const {
    EXPECT_EQ(openHandles(), 0);
    EXPECT_EQ(liveAllocations(), 0);
    EXPECT_EQ(foreignThreadCallbacks(), 0) << "callbacks made on a worker thread";
    for (const auto& t : tempFilesGiven) {
        EXPECT_FALSE(std::filesystem::exists(t)) << t << " was left behind";
    }
}

INT_PTR FciClient::addHandle(Handle h) {
    INT_PTR id = nextHandle_++;
    handles_[id] = h;
    return id;
}

void* FciClient::onAlloc(ULONG cb) {
    noteThread();
    void* p = std::malloc(cb);
    if (p) {
        ++gLiveAllocations;
    }
    return p;
}

void FciClient::onFree(void* memory) {
    noteThread();
    if (memory) {
        --gLiveAllocations;
    }
    std::free(memory);
}

INT_PTR FciClient::onOpen(LPSTR pszFile, int oflag, int, int* err, void* pv) {
    noteThread();
    *err = 0;
    int flags = (oflag & _O_RDWR) ? O_RDWR : (oflag & _O_WRONLY) ? O_WRONLY : O_RDONLY;
    if (oflag & _O_CREAT) {
        flags |= O_CREAT;
    }
    if (oflag & _O_TRUNC) {
        flags |= O_TRUNC;
    }
    if (oflag & _O_EXCL) {
        flags |= O_EXCL;
    }
    int fd = ::open(pszFile, flags, 0644);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    Handle h;
    h.fd = fd;
    h.isCabinet = std::string(pszFile).ends_with(".cab");
    h.isTemp = self(pv)->tempFilesGiven.contains(pszFile);
    return self(pv)->addHandle(h);
}

UINT FciClient::onRead(INT_PTR hf, void* memory, UINT cb, int* err, void* pv) {
    noteThread();
    *err = 0;
    auto* c = self(pv);
    Handle& h = c->handles_.at(hf);
    if (h.isSource && c->failSourceReadAfter >= 0 &&
        h.pos + cb > std::uint64_t(c->failSourceReadAfter)) {
        *err = 5;
        return UINT(-1);
    }
    if (h.gen) {
        std::uint64_t left = h.gen->size - h.pos;
        UINT n = UINT(left < cb ? left : cb);
        h.gen->fill(h.pos, static_cast<std::uint8_t*>(memory), n);
        h.pos += n;
        return n;
    }
    ssize_t n = ::read(h.fd, memory, cb);
    if (n < 0) {
        *err = errno;
        return UINT(-1);
    }
    h.pos += std::uint64_t(n);
    return UINT(n);
}

UINT FciClient::onWrite(INT_PTR hf, void* memory, UINT cb, int* err, void* pv) {
    noteThread();
    *err = 0;
    auto* c = self(pv);
    Handle& h = c->handles_.at(hf);
    if (h.isCabinet && c->failCabinetWriteAfter >= 0 &&
        h.written + cb > std::uint64_t(c->failCabinetWriteAfter)) {
        *err = 28; // disk full
        return UINT(-1);
    }
    if (h.isTemp && c->failTempWriteAfter >= 0 &&
        c->tempWritten_ + cb > std::uint64_t(c->failTempWriteAfter)) {
        *err = 28;
        return UINT(-1);
    }
    if (h.isTemp) {
        c->tempWritten_ += cb;
    }
    ssize_t n = ::write(h.fd, memory, cb);
    if (n < 0) {
        *err = errno;
        return UINT(-1);
    }
    h.written += std::uint64_t(n);
    if (h.isTemp) {
        std::uint64_t held = 0;
        for (const auto& [other, handle] : c->handles_) {
            struct stat st {};
            if (handle.isTemp && ::fstat(handle.fd, &st) == 0) {
                held += std::uint64_t(st.st_size);
            }
        }
        c->peakTempBytes = std::max(c->peakTempBytes, held);
    }
    return UINT(n);
}

int FciClient::onClose(INT_PTR hf, int* err, void* pv) {
    noteThread();
    *err = 0;
    auto* c = self(pv);
    auto it = c->handles_.find(hf);
    if (it == c->handles_.end()) {
        *err = 9;
        return -1;
    }
    if (it->second.fd >= 0) {
        ::close(it->second.fd);
    }
    c->handles_.erase(it);
    return 0;
}

long FciClient::onSeek(INT_PTR hf, long dist, int seektype, int* err, void* pv) {
    noteThread();
    *err = 0;
    Handle& h = self(pv)->handles_.at(hf);
    if (h.gen) {
        std::int64_t base = seektype == 0   ? 0
                            : seektype == 1 ? std::int64_t(h.pos)
                                            : std::int64_t(h.gen->size);
        h.pos = std::uint64_t(base + dist);
        return long(h.pos);
    }
    off_t r = ::lseek(h.fd, dist, seektype == 0 ? SEEK_SET : seektype == 1 ? SEEK_CUR : SEEK_END);
    if (r < 0) {
        *err = errno;
        return -1;
    }
    h.pos = std::uint64_t(r);
    return long(r);
}

int FciClient::onDelete(LPSTR pszFile, int* err, void*) {
    noteThread();
    *err = 0;
    if (::unlink(pszFile) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

BOOL FciClient::onTempFile(char* pszTempName, int cbTempName, void* pv) {
    noteThread();
    auto* c = self(pv);
    if (c->tempCalls_++ == c->failTempFileAt) {
        return FALSE;
    }
    std::string name = (c->scratch_ / ("kFw" + std::to_string(c->tempCalls_) + ".tmp")).string();
    if (int(name.size()) >= cbTempName) {
        return FALSE;
    }
    std::strcpy(pszTempName, name.c_str());
    c->tempFilesGiven.insert(name);
    return TRUE;
}

int FciClient::onFilePlaced(PCCAB, LPSTR pszFile, long, BOOL, void* pv) {
    noteThread();
    self(pv)->placed.emplace_back(pszFile);
    return 0;
}

BOOL FciClient::onNextCabinet(PCCAB pccab, ULONG, void* pv) {
    noteThread();
    auto* c = self(pv);
    if (pccab->iCab == c->refuseNextCabinetAt) {
        return FALSE;
    }
    std::snprintf(pccab->szCab, sizeof pccab->szCab, c->nextCabinetPattern.c_str(), pccab->iCab);
    c->cabinetsAskedFor.emplace_back(pccab->szCab);
    return TRUE;
}

long FciClient::onStatus(UINT typeStatus, ULONG cb1, ULONG cb2, void* pv) {
    noteThread();
    auto* c = self(pv);
    c->statuses.push_back({typeStatus, cb1, cb2});
    if (typeStatus == statusFile) {
        if (c->onStatusFile) {
            c->onStatusFile();
        }
        if (c->fileStatuses_++ == c->abortAtStatus) {
            return -1;
        }
    }
    return typeStatus == statusCabinet ? long(cb2) : 0;
}

INT_PTR FciClient::onOpenInfo(LPSTR pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs,
                              int* err, void* pv) {
    noteThread();
    *err = 0;
    auto* c = self(pv);
    std::string name = pszName;
    if (!c->failOpenOf.empty() && name.find(c->failOpenOf) != std::string::npos) {
        *err = 5;
        return -1;
    }
    Handle h;
    h.isSource = true;
    if (name.starts_with("gen:")) {
        auto it = c->generated.find(name);
        if (it == c->generated.end()) {
            *err = 2;
            return -1;
        }
        h.gen = &it->second;
        *pdate = (2020 - 1980) << 9 | 2 << 5 | 29;
        *ptime = 23 << 11 | 59 << 5 | 58 / 2;
        *pattribs = _A_ARCH;
        return c->addHandle(h);
    }
    int fd = ::open(pszName, O_RDONLY);
    if (fd < 0) {
        *err = errno == ENOENT ? 2 : 5;
        return -1;
    }
    struct stat st {};
    ::fstat(fd, &st);
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    *pdate = USHORT((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    *ptime = USHORT(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    *pattribs = USHORT(_A_ARCH | ((st.st_mode & S_IWUSR) ? 0 : _A_RDONLY));
    h.fd = fd;
    return c->addHandle(h);
}

std::filesystem::path scratchFor(const std::string& tag) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    return std::filesystem::temp_directory_path() /
           ("kp-" + tag + "-" + std::to_string(::getpid()) + "-" + name);
}

std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = std::uint8_t(x >> 24);
    }
    return v;
}

std::vector<std::uint8_t> textBytes(std::size_t n, std::uint32_t seed) {
    static const char* words[] = {"cabinet ", "folder ", "the ", "compress ", "of ",  "block ",
                                  "window ",  "file ",   "and ", "data\n",    "set ", "LZX "};
    std::vector<std::uint8_t> v;
    v.reserve(n);
    auto r = randomBytes(n, seed);
    for (std::size_t i = 0; v.size() < n; ++i) {
        for (const char* p = words[r[i % n] % 12]; *p && v.size() < n; ++p) {
            v.push_back(std::uint8_t(*p));
        }
    }
    return v;
}

} // namespace kp::test
