#include "KcabSfx.h"

#include "KcabRun.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"
#include "selfextract/SelfExtractor.h"

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

std::string shown(const std::string& path) {
    return escapedForTerminal(path);
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
    sfx.replace = replace;
    if (sfx.stub.empty()) {
        sfx.stub =
            programFolder() + selfextract::stubFileName(sfx.dos ? selfextract::SfxLayout::Dos
                                                                : selfextract::SfxLayout::Windows);
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
                  std::ostream& out, std::ostream& err, const std::atomic<bool>& interrupt) {
    if (status == kKcabWritten && interrupt.load()) {
        err << "kcab: interrupted; no self-extractor written\n";
        status = kKcabInterrupted;
    }
    if (status == kKcabWritten) {
        status = buildKcabSelfExtractor(sfx, cabinet, quiet, out, err, interrupt);
    }
    if (!sfx.staging.empty()) {
        deleteFile(sfx.staging);
    }
    return status;
}

int buildKcabSelfExtractor(const KcabSfxOptions& sfx, const std::string& cabinet, bool quiet,
                           std::ostream& out, std::ostream& err,
                           const std::atomic<bool>& interrupt) {
    using namespace selfextract;
    SfxRequest request;
    request.layout = sfx.dos ? SfxLayout::Dos : SfxLayout::Windows;
    request.stub = sfx.stub;
    request.cabinet = cabinet;
    request.prompt = sfx.prompt;
    request.target = sfx.output;
    request.replace = sfx.replace;
    request.keepGoing = [&interrupt] { return !interrupt.load(); };
    SfxResult result = writeSelfExtractor(request);
    if (result.code == kErrorCallNotImplemented && request.layout == SfxLayout::Windows) {
        err << "kcab: resource update is not available; making the DOS-based self-extractor "
               "instead\n";
        request.layout = SfxLayout::Dos;
        request.stub = programFolder() + stubFileName(SfxLayout::Dos);
        result = writeSelfExtractor(request);
    }
    if (result.interrupted) {
        err << "kcab: interrupted; no self-extractor written\n";
        return kKcabInterrupted;
    }
    if (result.code != kErrorSuccess) {
        err << "kcab: " << shown(sfx.output) << ": self-extractor not built";
        if (result.failedPath == request.stub) {
            err << " from " << shown(request.stub);
        } else if (!result.failedPath.empty() && result.failedPath != sfx.output) {
            err << ": " << shown(result.failedPath);
        }
        err << " (" << systemErrorText(result.code) << ")\n";
        return kKcabNotWritten;
    }
    if (!quiet) {
        out << "kcab: wrote " << shown(sfx.output) << " ("
            << (request.layout == SfxLayout::Dos ? "DOS-based, " : "") << result.size
            << " bytes)\n";
    }
    return kKcabWritten;
}

} // namespace kp
