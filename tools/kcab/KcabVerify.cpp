#include "KcabVerify.h"

#include "KcabMspack.h"

#include "platform/DosTime.h"
#include "platform/Files.h"
#include "platform/LastError.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mspack.h>
#include <new>

namespace kp {

using namespace platform;

namespace {

// The name extract() writes to: not a file but the comparison with the source.
char kCompareTarget[] = "\x01kcab-compare";

// libmspack does all its file work through this system: cabinets are read
// through the platform layer, and what it extracts is compared with the source
// as it comes instead of being written anywhere.
struct CompareSystem {
    mspack_system ops; // first, so that libmspack's self pointer is this
    FileHandle source = kInvalidHandle;
    std::uint64_t compared = 0;
    bool differs = false;
    std::uint64_t firstDifference = 0;
    std::uint32_t sourceError = 0; // a failed read of the source
    std::vector<std::uint8_t> scratch;
};

struct CompareFile {
    CompareSystem* system;
    FileHandle handle; // a cabinet, or kInvalidHandle for the comparison
};

CompareFile* fileOf(mspack_file* file) {
    return reinterpret_cast<CompareFile*>(file);
}

mspack_file* openFor(mspack_system* self, const char* name, int mode) {
    auto* system = reinterpret_cast<CompareSystem*>(self);
    FileHandle handle = kInvalidHandle;
    if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kCompareTarget) == 0) {
        system->compared = 0;
        system->differs = false;
    } else if (mode == MSPACK_SYS_OPEN_READ) {
        handle = openFile(name, FileAccess::Read, FileDisposition::OpenExisting);
        if (handle == kInvalidHandle) {
            return nullptr;
        }
    } else {
        return nullptr; // nothing else is ever written
    }
    auto* file = new (std::nothrow) CompareFile{system, handle};
    if (!file && handle != kInvalidHandle) {
        closeFile(handle);
    }
    return reinterpret_cast<mspack_file*>(file);
}

void closeOf(mspack_file* file) {
    CompareFile* f = fileOf(file);
    if (f->handle != kInvalidHandle) {
        closeFile(f->handle);
    }
    delete f;
}

int readOf(mspack_file* file, void* buffer, int bytes) {
    return mspackRead(fileOf(file)->handle, buffer, bytes);
}

// Takes the extracted bytes and compares them with the source's next ones. It
// always takes them all: a failed write would leave libmspack's decoder of the
// folder in error for every later file.
int writeOf(mspack_file* file, void* buffer, int bytes) {
    CompareSystem& s = *fileOf(file)->system;
    if (bytes < 0) {
        return -1;
    }
    if (!s.differs && !s.sourceError) {
        s.scratch.resize(std::size_t(bytes));
        std::uint32_t got = 0;
        if (!readFile(s.source, s.scratch.data(), std::uint32_t(bytes), got)) {
            s.sourceError = lastError();
        }
        const auto* extracted = static_cast<const std::uint8_t*>(buffer);
        if (!s.sourceError &&
            (got != std::uint32_t(bytes) || std::memcmp(extracted, s.scratch.data(), got) != 0)) {
            std::uint32_t i = 0;
            while (i < got && extracted[i] == s.scratch[i]) {
                ++i;
            }
            s.differs = true;
            s.firstDifference = s.compared + i;
        }
    }
    s.compared += std::uint32_t(bytes);
    return bytes;
}

int seekOf(mspack_file* file, off_t offset, int mode) {
    return mspackSeek(fileOf(file)->handle, offset, mode);
}

off_t tellOf(mspack_file* file) {
    return mspackTell(fileOf(file)->handle);
}

std::string systemError(std::uint32_t code) {
    return " (" + systemErrorText(code) + ")";
}

std::string dosStamp(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                     unsigned second) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour,
                  minute, second);
    return text;
}

// Compares one extracted file with its source; empty when they agree.
std::string compareOne(mscab_decompressor* cabd, CompareSystem& system, mscabd_file* file,
                       const KcabPacked& packed) {
    const std::string subject = "kcab: " + packed.source + ": ";
    if (packed.stored != file->filename) {
        return subject + "stored as '" + packed.stored + "', but the cabinet names it '" +
               file->filename + "'";
    }
    FileHandle source = openFile(packed.source, FileAccess::Read, FileDisposition::OpenExisting,
                                 /*sequentialHint=*/true);
    if (source == kInvalidHandle) {
        return subject + "cannot be read to compare" + systemError(lastError());
    }
    struct Closer {
        FileHandle handle;
        ~Closer() { closeFile(handle); }
    } closer{source};
    FileInformation information;
    if (!fileInformation(source, information)) {
        return subject + "cannot be read to compare" + systemError(lastError());
    }
    if (information.size != file->length) {
        return subject + "the cabinet holds " + std::to_string(file->length) +
               " bytes of it, the file has " + std::to_string(information.size);
    }
    DosDateTime stamp = dosDateTimeOrNearest(information.lastWriteTime);
    std::string want = dosStamp((stamp.date >> 9) + 1980, (stamp.date >> 5) & 15, stamp.date & 31,
                                stamp.time >> 11, (stamp.time >> 5) & 63, (stamp.time & 31) * 2);
    std::string got =
        dosStamp(unsigned(file->date_y), unsigned(file->date_m), unsigned(file->date_d),
                 unsigned(file->time_h), unsigned(file->time_m), unsigned(file->time_s));
    if (want != got) {
        return subject + "the cabinet dates it " + got + ", the file is dated " + want;
    }
    system.source = source;
    system.sourceError = 0;
    int rc = cabd->extract(cabd, file, kCompareTarget);
    system.source = kInvalidHandle;
    if (system.differs) {
        return subject + "the cabinet holds other bytes, from byte " +
               std::to_string(system.firstDifference) + " on";
    }
    if (system.sourceError) {
        return subject + "cannot be read to compare" + systemError(system.sourceError);
    }
    if (rc != MSPACK_ERR_OK) {
        return subject + "cannot be extracted from the cabinet (libmspack error " +
               std::to_string(rc) + ")";
    }
    if (system.compared != file->length) {
        return subject + "the cabinet gives " + std::to_string(system.compared) +
               " bytes of it, not " + std::to_string(file->length);
    }
    return {};
}

} // namespace

std::vector<std::string> verifyKcabCabinets(const std::vector<std::string>& cabinets,
                                            const std::vector<KcabPacked>& files,
                                            const std::atomic<bool>& stop,
                                            const std::vector<std::string>& shownAs) {
    std::vector<std::string> problems;
    // libmspack refuses a cabinet without files, and there is nothing to compare.
    if (cabinets.empty() || files.empty()) {
        return problems;
    }
    CompareSystem system;
    system.ops = {openFor,           closeOf,     readOf,     writeOf,    seekOf, tellOf,
                  mspackSaysNothing, mspackAlloc, mspackFree, mspackCopy, nullptr};
    mscab_decompressor* cabd = mspack_create_cab_decompressor(&system.ops);
    if (!cabd) {
        problems.push_back("kcab: out of memory to read the cabinet back");
        return problems;
    }
    // libmspack keeps the name pointers it was opened with until it closes.
    std::list<std::string> names(cabinets.begin(), cabinets.end());
    std::vector<mscabd_cabinet*> unjoined;
    mscabd_cabinet* first = nullptr;
    mscabd_cabinet* last = nullptr;
    std::size_t position = 0;
    for (std::string& path : names) {
        const std::string& name = position < shownAs.size() ? shownAs[position] : path;
        ++position;
        mscabd_cabinet* cab = cabd->open(cabd, path.data());
        if (!cab) {
            problems.push_back("kcab: " + name + ": cannot be read back (libmspack error " +
                               std::to_string(cabd->last_error(cabd)) + ")");
            break;
        }
        if (!first) {
            first = last = cab;
        } else if (cabd->append(cabd, last, cab) != MSPACK_ERR_OK) {
            problems.push_back("kcab: " + name + ": does not continue the cabinet before it " +
                               "(libmspack error " + std::to_string(cabd->last_error(cabd)) + ")");
            unjoined.push_back(cab);
            break;
        } else {
            last = cab;
        }
    }
    if (problems.empty()) {
        std::size_t index = 0;
        for (mscabd_file* file = first->files; file; file = file->next, ++index) {
            if (index >= files.size() || stop.load()) {
                break;
            }
            std::string problem = compareOne(cabd, system, file, files[index]);
            if (!problem.empty()) {
                // A decoder that failed once is no judge of the files after.
                problems.push_back(problem);
                break;
            }
        }
        std::size_t listed = 0;
        for (mscabd_file* file = first->files; file; file = file->next) {
            ++listed;
        }
        if (problems.empty() && listed != files.size()) {
            problems.push_back("kcab: " + cabinets.front() + ": lists " + std::to_string(listed) +
                               " files, " + std::to_string(files.size()) + " were packed");
        }
    }
    for (mscabd_cabinet* cab : unjoined) {
        cabd->close(cabd, cab);
    }
    if (first) {
        cabd->close(cabd, first);
    }
    mspack_destroy_cab_decompressor(cabd);
    return problems;
}

} // namespace kp
