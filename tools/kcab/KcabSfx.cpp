#include "KcabSfx.h"

#include "KcabRun.h"
#include "cab_format.h"
#include "platform/FileCopy.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"
#include "platform/WholeFiles.h"
#include "selfextract/ResourceUpdate.h"

#include <cstdint>
#include <limits>

using namespace kp::platform;

namespace kp {

const char* const kKcabSfxHelp = R"(
Self-extractors (Windows executables that unpack the cabinet):
      --sfx OUT.exe       also make OUT.exe from the cabinet; -o is then optional
                          (without it the cabinet is only a step on the way)
      --prompt TEXT       the Yes/No question OUT.exe asks first, written in
                          Windows-1252 ('?' for what it lacks); default
                          "Remove files from cabinet?"
      --stub PATH         the stub to build on, instead of kstub16.exe (or
                          kstub08.exe with --sfx-dos) beside kcab
      --sfx-dos           the DOS-based layout instead: the DOS stub's bytes
                          followed by the cabinet's, nothing else

OUT.exe is replaced only with -f. It asks its question, lets the user pick a
folder and unpacks there; "OUT.exe /Q /T:folder" unpacks without any window.
A self-extractor holds one cabinet: --cabinet-size cannot be used with --sfx.
)";

namespace {

constexpr const char* kWindowsStub = "kstub16.exe";
constexpr const char* kDosStub = "kstub08.exe";

std::string systemErrorText(std::uint32_t code) {
    return "system error " + std::to_string(code) + ": " + systemErrorMessage(code);
}

bool isSetMember(const std::vector<std::uint8_t>& cabinet) {
    return cabinet.size() > cab::cfheader::kFlags + 1 &&
           (cab::getU16(&cabinet[cab::cfheader::kFlags]) &
            (cab::kFlagNextCabinet | cab::kFlagPrevCabinet)) != 0;
}

// The stub copied, then the two resources written into the copy; the code of the
// first step that failed is the last error.
void buildWindowsSelfExtractor(const std::string& stub, const std::string& target,
                               const std::vector<std::uint8_t>& cabinet,
                               const std::string& prompt) {
    if (!copyFile(stub, target, false)) {
        return;
    }
    ResourceUpdateHandle update = beginUpdateResource(target, false);
    if (update == kNoResourceUpdate) {
        return;
    }
    std::string text = utf8ToWindows1252(prompt);
    bool written = updateResource(update, kResourceTypeRcData, "CABINET", kLanguageEnglishNeutral,
                                  cabinet.data(), static_cast<std::uint32_t>(cabinet.size())) &&
                   updateResource(update, kResourceTypeRcData, "UPROMPT", kLanguageEnglishNeutral,
                                  text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
    if (!written) {
        std::uint32_t failure = lastError();
        endUpdateResource(update, true);
        setLastError(failure);
        return;
    }
    endUpdateResource(update, false);
}

void buildDosSelfExtractor(const std::string& stub, const std::string& target,
                           const std::vector<std::uint8_t>& cabinet) {
    std::vector<std::uint8_t> stubBytes;
    if (!readWholeFile(stub, stubBytes)) {
        return;
    }
    replaceWholeFile(target, 0755, [&](FileHandle out) {
        return writeAll(out, stubBytes.data(), stubBytes.size()) &&
               writeAll(out, cabinet.data(), cabinet.size());
    });
}

} // namespace

bool takeKcabSfxOptions(const std::vector<std::string>& arguments,
                        std::vector<std::string>& remaining, KcabSfxOptions& sfx,
                        std::string& error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            remaining.insert(remaining.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i),
                             arguments.end());
            break;
        }
        std::string name = argument.substr(0, argument.find('='));
        bool takesValue = name == "--sfx" || name == "--prompt" || name == "--stub";
        if (name == "--sfx-dos" && name == argument) {
            sfx.dos = true;
            continue;
        }
        if (!takesValue) {
            remaining.push_back(argument);
            continue;
        }
        std::string value;
        if (name != argument) {
            value = argument.substr(name.size() + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return false;
        }
        if (value.empty() && name != "--prompt") {
            error = "option '" + name + "' needs a value";
            return false;
        }
        (name == "--sfx" ? sfx.output : name == "--prompt" ? sfx.prompt : sfx.stub) = value;
    }
    if (!sfx.requested() && (sfx.dos || !sfx.stub.empty())) {
        error = "--sfx-dos and --stub go with --sfx OUT.exe";
        return false;
    }
    return true;
}

bool namesKcabOutput(const std::vector<std::string>& remaining) {
    for (const std::string& argument : remaining) {
        if (argument == "--") {
            return false;
        }
        if (argument == "-o" || argument == "--output" || argument.rfind("--output=", 0) == 0 ||
            (argument.rfind("-o", 0) == 0 && argument.size() > 2 && argument[1] == 'o')) {
            return true;
        }
    }
    return false;
}

std::string stagingCabinetFor(KcabSfxOptions& sfx) {
    std::string folder = folderPart(sfx.output);
    std::string name = namePart(sfx.output);
    sfx.staging = createUniqueTempFile(folder, "." + name + "-cabinet-");
    if (sfx.staging.empty()) {
        sfx.staging = folder + "." + name + "-cabinet.tmp";
    } else {
        deleteFile(sfx.staging); // reserved the name; the builder creates the cabinet anew
    }
    return sfx.staging;
}

bool admitKcabSfx(KcabSfxOptions& sfx, bool replace, std::int32_t cabinetSize, std::string& error) {
    if (sfx.stub.empty()) {
        sfx.stub = programFolder() + (sfx.dos ? kDosStub : kWindowsStub);
    }
    if (!fileExists(sfx.stub)) {
        error = sfx.stub + ": no such stub (build the stubs, or name one with --stub)";
        return false;
    }
    if (cabinetSize != std::numeric_limits<std::int32_t>::max()) {
        error = "--cabinet-size cannot be used with --sfx: a self-extractor holds one cabinet";
        return false;
    }
    std::string folder = folderPart(sfx.output);
    std::uint32_t attributes = fileAttributes(folder);
    if (attributes == kInvalidFileAttributes || !(attributes & kAttrDirectory)) {
        error = folder + ": no such folder for the self-extractor";
        return false;
    }
    attributes = fileAttributes(sfx.output);
    if (attributes != kInvalidFileAttributes && ((attributes & kAttrDirectory) || !replace)) {
        error = sfx.output + ((attributes & kAttrDirectory)
                                  ? ": is a folder"
                                  : ": already exists (use -f to replace it)");
        return false;
    }
    return true;
}

int finishKcabSfx(const KcabSfxOptions& sfx, const std::string& cabinet, int status, bool quiet,
                  std::ostream& out, std::ostream& err) {
    if (status == kKcabWritten) {
        status = buildKcabSelfExtractor(sfx, cabinet, quiet, out, err);
    }
    if (!sfx.staging.empty()) {
        deleteFile(sfx.staging);
    }
    return status;
}

int buildKcabSelfExtractor(const KcabSfxOptions& sfx, const std::string& cabinet, bool quiet,
                           std::ostream& out, std::ostream& err) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(cabinet, bytes)) {
        err << "kcab: " << cabinet << ": cannot be read back (" << systemErrorText(lastError())
            << ")\n";
        return kKcabNotWritten;
    }
    if (isSetMember(bytes)) {
        err << "kcab: " << sfx.output
            << ": not built: the job did not fit in one cabinet, and a self-extractor holds one\n";
        return kKcabNotWritten;
    }
    std::string stub = sfx.stub;
    bool dos = sfx.dos;
    if (!dos) {
        buildWindowsSelfExtractor(stub, sfx.output, bytes, sfx.prompt);
        if (lastError() == kErrorCallNotImplemented) {
            err << "kcab: resource update is not available; making the DOS-based self-extractor "
                   "instead\n";
            dos = true;
            stub = programFolder() + kDosStub;
        }
    }
    if (dos) {
        buildDosSelfExtractor(stub, sfx.output, bytes);
    }
    std::uint32_t outcome = lastError();
    if (outcome != kErrorSuccess) {
        deleteFile(sfx.output);
        err << "kcab: " << sfx.output << ": self-extractor not built from " << stub << " ("
            << systemErrorText(outcome) << ")\n";
        return kKcabNotWritten;
    }
    if (!quiet) {
        FileInformation information;
        FileHandle handle = openFile(sfx.output, FileAccess::Read, FileDisposition::OpenExisting);
        if (handle != kInvalidHandle && fileInformation(handle, information)) {
            out << "kcab: wrote " << sfx.output << " (" << (dos ? "DOS-based, " : "")
                << information.size << " bytes)\n";
        }
        if (handle != kInvalidHandle) {
            closeFile(handle);
        }
    }
    return kKcabWritten;
}

} // namespace kp
