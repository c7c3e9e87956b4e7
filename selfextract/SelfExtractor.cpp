#include "selfextract/SelfExtractor.h"

#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"
#include "platform/WholeFiles.h"
#include "selfextract/PeImage.h"
#include "selfextract/ResourceUpdate.h"

#include <algorithm>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace kp::selfextract {

using namespace platform;

namespace {

// The names the stub looks its resources up by, as RT_RCDATA in English (neutral).
constexpr const char16_t kCabinetResource[] = u"CABINET";
constexpr const char16_t kPromptResource[] = u"UPROMPT";

// The cabinet is copied through a buffer of this size: the memory a build takes
// beyond the stub.
constexpr std::uint32_t kPiece = 1u << 20;

// A failure of one step: its code and the file it worked on.
struct Failure {
    std::uint32_t code;
    std::string path;
};

// The build's own file under a hidden name beside the target. Unless it is committed,
// it is removed again, whatever ended the build.
class StagedTarget {
public:
    explicit StagedTarget(const std::string& target) : target(target) {}
    StagedTarget(const StagedTarget&) = delete;
    StagedTarget& operator=(const StagedTarget&) = delete;
    ~StagedTarget() { discard(); }

    // Reserves the hidden name and opens it; false with the last error set.
    bool open() {
        path = createUniqueTempFile(folderPart(target), "." + namePart(target) + "-building-");
        if (path.empty()) {
            return false;
        }
        handle = openFile(path, FileAccess::Write, FileDisposition::TruncateExisting);
        return handle != kInvalidHandle;
    }

    bool write(const std::uint8_t* bytes, std::uint64_t size) {
        return writeAll(handle, bytes, size);
    }

    // Overwrites `size` bytes at `offset`, inside what has been written, and comes back
    // to the end.
    bool patch(std::uint64_t offset, const std::uint8_t* bytes, std::uint32_t size) {
        std::int64_t end = seekFile(handle, 0, SeekOrigin::Current);
        return end >= 0 &&
               seekFile(handle, static_cast<std::int64_t>(offset), SeekOrigin::Begin) >= 0 &&
               write(bytes, size) && seekFile(handle, end, SeekOrigin::Begin) >= 0;
    }

    // Closes the file, gives it `mode` and renames it onto the target.
    bool commit(unsigned mode, bool replace) {
        FileHandle open = handle;
        handle = kInvalidHandle;
        if (!closeFile(open)) {
            return false;
        }
        if (!giveMode(mode) || !renameOnto(path, target, replace)) {
            return false;
        }
        path.clear();
        return true;
    }

private:
    bool giveMode(unsigned mode) {
        return ::chmod(path.c_str(), mode & 07777) == 0 || failWithErrno(true);
    }

    void discard() {
        std::uint32_t failure = lastError();
        if (handle != kInvalidHandle) {
            closeFile(handle);
            handle = kInvalidHandle;
        }
        if (!path.empty()) {
            deleteFile(path);
            path.clear();
        }
        setLastError(failure);
    }

    std::string target;
    std::string path;
    FileHandle handle = kInvalidHandle;
};

// An open input file with its size.
class Input {
public:
    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() {
        if (handle != kInvalidHandle) {
            std::uint32_t failure = lastError();
            closeFile(handle);
            setLastError(failure);
        }
    }

    bool open(const std::string& name) {
        path = name;
        handle = openFile(path, FileAccess::Read, FileDisposition::OpenExisting, true);
        FileInformation information;
        if (handle == kInvalidHandle || !fileInformation(handle, information)) {
            return false;
        }
        size = information.size;
        return true;
    }

    std::string path;
    FileHandle handle = kInvalidHandle;
    std::uint64_t size = 0;
};

class Build {
public:
    explicit Build(const SfxRequest& request) : request(request), staged(request.target) {}

    SfxResult run() {
        SfxResult result;
        try {
            if (auto failure = write()) {
                result.code = failure->code;
                result.failedPath = failure->path;
                result.interrupted = interrupted;
                return result;
            }
        } catch (const std::bad_alloc&) {
            result.code = kErrorNotEnoughMemory;
            return result;
        }
        result.size = written;
        return result;
    }

private:
    std::optional<Failure> write() {
        bool windows = request.layout == SfxLayout::Windows;
        // Without resource update nothing is written: the caller may turn to the other
        // layout.
        if (windows && !resourceUpdateAvailable()) {
            return Failure{kErrorCallNotImplemented, request.target};
        }
        std::vector<std::uint8_t> stub;
        if (!readWholeFile(request.stub, stub)) {
            return failed(request.stub);
        }
        if (!cabinet.open(request.cabinet)) {
            return failed(request.cabinet);
        }
        PeImagePlan plan;
        if (windows) {
            if (cabinet.size > kMaxResourceCabinet) {
                return Failure{kErrorFileTooLarge, request.cabinet};
            }
            try {
                plan = windowsImage(stub);
            } catch (const ImageError& error) {
                return Failure{error.code, request.stub};
            }
        } else {
            plan.head = std::move(stub);
            plan.streamedSize = cabinet.size;
        }
        stub = {};
        if (!keepGoing()) {
            return Failure{kErrorCancelled, request.target};
        }
        if (!staged.open()) {
            return failed(request.target);
        }
        PeChecksum checksum;
        if (!staged.write(plan.head.data(), plan.head.size())) {
            return failed(request.target);
        }
        checksum.add(plan.head.data(), plan.head.size());
        if (auto failure = copyCabinet(plan.streamedSize, checksum)) {
            return failure;
        }
        if (!staged.write(plan.tail.data(), plan.tail.size())) {
            return failed(request.target);
        }
        checksum.add(plan.tail.data(), plan.tail.size());
        if (windows) {
            std::uint8_t field[4];
            std::uint32_t value = checksum.value();
            for (int i = 0; i < 4; ++i) {
                field[i] = static_cast<std::uint8_t>(value >> (8 * i));
            }
            if (!staged.patch(plan.checksumField, field, sizeof field)) {
                return failed(request.target);
            }
        }
        written = plan.head.size() + plan.streamedSize + plan.tail.size();
        if (!keepGoing()) {
            return Failure{kErrorCancelled, request.target};
        }
        if (!staged.commit(permissionBits(request.stub, 0755), request.replace)) {
            return failed(request.target);
        }
        setLastError(kErrorSuccess);
        return std::nullopt;
    }

    // The stub's image with the question and, last in its resource section, room for
    // the cabinet; an earlier "CABINET" or "UPROMPT" of the stub is replaced.
    PeImagePlan windowsImage(const std::vector<std::uint8_t>& stub) {
        ImageBytes bytes(stub);
        PeLayout layout = readPeLayout(bytes);
        std::vector<Resource> resources = readPeResources(bytes, layout);
        const ResourceName type = ResourceName::fromId(kResourceTypeRcData);
        std::string prompt = utf8ToWindows1252(request.prompt);
        std::vector<std::uint8_t> promptBytes(prompt.begin(), prompt.end());
        promptBytes.push_back(0); // the stub reads a zero-terminated text
        for (const char16_t* name : {kCabinetResource, kPromptResource}) {
            if (Resource* earlier = findResource(resources, type, ResourceName::fromText(name),
                                                 kLanguageEnglishNeutral)) {
                resources.erase(resources.begin() + (earlier - resources.data()));
            }
        }
        resources.push_back({type, ResourceName::fromText(kPromptResource), kLanguageEnglishNeutral,
                             0, std::move(promptBytes)});
        resources.push_back(
            {type, ResourceName::fromText(kCabinetResource), kLanguageEnglishNeutral, 0, {}});
        return planPeImage(bytes, layout, resources, &resources.back(), cabinet.size);
    }

    std::optional<Failure> copyCabinet(std::uint64_t size, PeChecksum& checksum) {
        std::vector<std::uint8_t> buffer(
            static_cast<std::size_t>(std::min<std::uint64_t>(size, kPiece)));
        for (std::uint64_t done = 0; done < size;) {
            std::uint32_t piece =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(size - done, kPiece));
            std::uint32_t got = 0;
            if (!readFile(cabinet.handle, buffer.data(), piece, got)) {
                return failed(request.cabinet);
            }
            if (got != piece) {
                return Failure{kErrorReadFault, request.cabinet}; // shrank while being read
            }
            if (!staged.write(buffer.data(), got)) {
                return failed(request.target);
            }
            checksum.add(buffer.data(), got);
            done += got;
            if (!keepGoing()) {
                return Failure{kErrorCancelled, request.target};
            }
        }
        return std::nullopt;
    }

    bool keepGoing() {
        if (request.keepGoing && !request.keepGoing()) {
            interrupted = true;
        }
        return !interrupted;
    }

    // Never 0, so that a failure can never be taken for success.
    static Failure failed(const std::string& path) {
        std::uint32_t code = lastError();
        return Failure{code != kErrorSuccess ? code : kErrorGenFailure, path};
    }

    const SfxRequest& request;
    StagedTarget staged;
    Input cabinet;
    bool interrupted = false;
    std::uint64_t written = 0;
};

} // namespace

const char* stubFileName(SfxLayout layout) {
    return layout == SfxLayout::Windows ? "kstub16.exe" : "kstub08.exe";
}

SfxResult writeSelfExtractor(const SfxRequest& request) {
    return Build(request).run();
}

} // namespace kp::selfextract
