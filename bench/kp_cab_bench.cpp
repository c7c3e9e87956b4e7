// kp-cab-bench -m none|mszip|lzx:W -o OUT.cab FILE...
// Writes one cabinet from the files given (names stored as given, with '\'),
// through the file compression interface on plain POSIX callbacks.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fci.h"

namespace {

FNFCIALLOC(memAlloc) { return std::malloc(cb); }
FNFCIFREE(memFree) { std::free(memory); }

FNFCIOPEN(fileOpen) {
    (void)pmode;
    (void)pv;
    int flags = (oflag & _O_RDWR) ? O_RDWR : (oflag & _O_WRONLY) ? O_WRONLY : O_RDONLY;
    flags |= (oflag & _O_CREAT ? O_CREAT : 0) | (oflag & _O_TRUNC ? O_TRUNC : 0) |
             (oflag & _O_EXCL ? O_EXCL : 0);
    int fd = ::open(pszFile, flags, 0644);
    *err = fd < 0 ? errno : 0;
    return fd;
}
FNFCIREAD(fileRead) {
    (void)pv;
    ssize_t n = ::read(int(hf), memory, cb);
    *err = n < 0 ? errno : 0;
    return UINT(n);
}
FNFCIWRITE(fileWrite) {
    (void)pv;
    ssize_t n = ::write(int(hf), memory, cb);
    *err = n < 0 ? errno : 0;
    return UINT(n);
}
FNFCICLOSE(fileClose) {
    (void)pv;
    *err = 0;
    return ::close(int(hf));
}
FNFCISEEK(fileSeek) {
    (void)pv;
    off_t r = ::lseek(int(hf), dist, seektype);
    *err = r < 0 ? errno : 0;
    return long(r);
}
FNFCIDELETE(fileDelete) {
    (void)pv;
    *err = 0;
    return ::unlink(pszFile);
}
FNFCIGETTEMPFILE(tempFile) {
    (void)pv;
    static int counter = 0;
    const char* dir = std::getenv("TMPDIR");
    return std::snprintf(pszTempName, size_t(cbTempName), "%s/kFw%d-%d.tmp", dir ? dir : "/tmp",
                         int(::getpid()), counter++) < cbTempName;
}
FNFCIFILEPLACED(filePlaced) {
    (void)pccab, (void)pszFile, (void)cbFile, (void)fContinuation, (void)pv;
    return 0;
}
FNFCIGETNEXTCABINET(nextCabinet) {
    (void)pccab, (void)cbPrevCab, (void)pv;
    return FALSE; // one cabinet only
}
FNFCISTATUS(status) {
    (void)typeStatus, (void)cb1, (void)pv;
    return typeStatus == statusCabinet ? long(cb2) : 0;
}
FNFCIGETOPENINFO(openInfo) {
    (void)pv;
    int fd = ::open(pszName, O_RDONLY);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    struct stat st {};
    ::fstat(fd, &st);
    std::tm t{};
    localtime_r(&st.st_mtime, &t);
    *pdate = USHORT((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
    *ptime = USHORT(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
    *pattribs = _A_ARCH;
    return fd;
}

int usage() {
    std::fprintf(stderr, "usage: kp-cab-bench -m none|mszip|lzx:15..21 -o OUT.cab FILE...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    TCOMP comp = tcompTYPE_MSZIP;
    std::string out;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-m" && i + 1 < argc) {
            std::string m = argv[++i];
            if (m == "none") {
                comp = tcompTYPE_NONE;
            } else if (m == "mszip") {
                comp = tcompTYPE_MSZIP;
            } else if (m.rfind("lzx:", 0) == 0) {
                comp = TCOMP(TCOMPfromLZXWindow(std::atoi(m.c_str() + 4)));
            } else {
                return usage();
            }
        } else if (a == "-o" && i + 1 < argc) {
            out = argv[++i];
        } else {
            files.push_back(a);
        }
    }
    if (out.empty()) {
        return usage();
    }
    ERF erf{};
    CCAB ccab{};
    ccab.cb = 0x7FFFFFFF;
    ccab.cbFolderThresh = 0x7FFFFFFF;
    ccab.iCab = ccab.iDisk = 1;
    std::string::size_type slash = out.rfind('/');
    std::string dir = slash == std::string::npos ? "" : out.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? out : out.substr(slash + 1);
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s", dir.c_str());
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", name.c_str());
    ::unlink(out.c_str());

    HFCI h = FCICreate(&erf, filePlaced, memAlloc, memFree, fileOpen, fileRead, fileWrite,
                       fileClose, fileSeek, fileDelete, tempFile, &ccab, nullptr);
    if (!h) {
        std::fprintf(stderr, "FCICreate failed: %d/%d\n", erf.erfOper, erf.erfType);
        return 1;
    }
    for (const std::string& f : files) {
        std::string stored = f.rfind("./", 0) == 0 ? f.substr(2) : f;
        for (char& c : stored) {
            c = c == '/' ? '\\' : c;
        }
        if (!FCIAddFile(h, const_cast<char*>(f.c_str()), stored.data(), FALSE, nextCabinet,
                        status, openInfo, comp)) {
            std::fprintf(stderr, "%s: FCIAddFile failed: %d/%d\n", f.c_str(), erf.erfOper,
                         erf.erfType);
            FCIDestroy(h);
            return 1;
        }
    }
    bool ok = FCIFlushCabinet(h, FALSE, nextCabinet, status);
    FCIDestroy(h);
    if (!ok) {
        std::fprintf(stderr, "FCIFlushCabinet failed: %d/%d\n", erf.erfOper, erf.erfType);
        return 1;
    }
    return 0;
}
