#include "KcabRun.h"

#include "KcabEntries.h"
#include "KcabOptions.h"
#include "KcabOutput.h"
#include "KcabProgress.h"
#include "KcabSfx.h"
#include "KcabVerify.h"
#include "engine/kFwCAB.h"
#include "platform/CurrentDirectory.h"
#include "platform/DosTime.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"

#include <sys/stat.h>

namespace kp {

using namespace platform;

namespace {

std::string describeSystemError(int code) {
    if (code == 0) {
        return {};
    }
    return " (system error " + std::to_string(code) + ": " +
           systemErrorMessage(static_cast<std::uint32_t>(code)) + ")";
}

std::uint64_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

// One kcab run over a configured builder.
class KcabJob {
public:
    KcabJob(const KcabOptions& options, const KcabEntries& entries, std::ostream& out,
            std::ostream& err, const KcabTerminal& terminal, const std::atomic<bool>& interrupt)
        : options(options), out(out), err(err), interrupt(interrupt),
          progress(out,
                   options.quiet         ? KcabProgress::Style::Quiet
                   : terminal.isTerminal ? KcabProgress::Style::Bar
                                         : KcabProgress::Style::Lines,
                   terminal.width) {
        cab.setCabFile(options.output);
        cab.setCompType(options.method);
        cab.setCompFactor(options.lzxWindow - 14);
        cab.setFolderSize(options.folderSize);
        cab.setThreads(int(options.threads ? options.threads : availableCores()));
        cab.setDiskSize(options.cabinetSize);
        cab.setStorePath(options.storedPaths != StoredPaths::None);
        cab.setPartialPath(options.storedPaths == StoredPaths::Relative);
        cab.setAddFiles(entries.addFiles);
        cab.setRecurseFiles(entries.recurseFiles);
        cab.setReplace(options.replace);
        cab.setExcludedFiles(earlierKcabSet(options.output));
        cab.OnMajorStatus = [this](tkFwCAB*, const std::string&, int percent, bool& abort) {
            onMajorStatus(percent, abort);
        };
        cab.OnMinorStatus = [this](tkFwCAB*, const std::string& file, int, bool& abort) {
            onMinorStatus(file, abort);
        };
        cab.OnMessageNotify = [this](tkFwCAB*, std::string& cabName, std::string&, int cabNo, int&,
                                     bool& abort) { onNextCabinet(cabName, cabNo, abort); };
        cab.OnErrorNotify = [this](tkFwCAB*, int errId, int apiCode, const std::string& text,
                                   int& action) { onError(errId, apiCode, text, action); };
        cab.OnSizeChange = [this](tkFwCAB*, const std::string& file, std::int64_t stored) {
            progress.clear();
            this->err << "kcab: warning: " << shown(file)
                      << ": changed size while it was packed; the cabinet holds the " << stored
                      << " bytes read\n";
        };
        if (options.verify) {
            // Checked while the set still has its staging names, so that a cabinet
            // that fails leaves an earlier one under the output's name as it was.
            cab.OnCabinetsStaged = [this](tkFwCAB*, const std::vector<std::string>& staging,
                                          bool& abort) {
                progress.clear();
                if (!verify(staging)) {
                    verifyRefused = true;
                    abort = true;
                }
            };
        }
        cab.OnNameClash = [this](tkFwCAB*, const std::string& file, const std::string& stored,
                                 const std::string& earlier) {
            progress.clear();
            this->err << "kcab: warning: " << shown(file) << ": stored as " << shown(stored)
                      << ", a name " << shown(earlier)
                      << " already has (letter case aside); extracting keeps only one of them\n";
        };
    }

    int run() {
        cab.BuildCabinet();
        progress.clear();
        if (verifyRefused) {
            if (interrupted) {
                err << "kcab: interrupted; no cabinet written\n";
                return kKcabInterrupted;
            }
            err << "kcab: " << shown(options.output)
                << ": does not hold what was packed; not written\n";
            return kKcabNotWritten;
        }
        // The builder leaves nothing of a run that did not finish: no cabinet to remove.
        bool written = !failed && !interrupted && addingDone && fileExists(options.output);
        if (!written) {
            if (interrupted) {
                err << "kcab: interrupted; no cabinet written\n";
                return kKcabInterrupted;
            }
            if (!failed) {
                err << "kcab: " << shown(options.output) << ": not written\n";
            }
            return kKcabNotWritten;
        }
        std::vector<std::string> stale;
        if (options.replace) {
            stale = removeStaleKcabMembers(options.output, static_cast<int>(ownCabinets.size()));
        }
        if (cab.FilesHandled() == 0) {
            err << "kcab: warning: " << shown(options.output)
                << ": no files packed; most extractors refuse an empty cabinet\n";
        }
        if (!options.quiet) {
            printSummary(stale);
        }
        return kKcabWritten;
    }

private:
    void onMajorStatus(int percent, bool& abort) {
        if (cab.FilesHandled() > reportedFiles) {
            reportedFiles = cab.FilesHandled();
            packed.push_back({cab.CurrentFile(), cab.CurrentStoredName()});
            progress.fileDone(shown(cab.CurrentFile()), percent);
        }
        if (ownCabinets.empty()) {
            ownCabinets.push_back(options.output); // the context exists: the name is ours
        }
        checkInterrupt(abort);
    }

    void onMinorStatus(const std::string& file, bool& abort) {
        if (cab.Phase() == BuildPhase::Adding) {
            progress.fileProgress(shown(file));
        } else if (cab.Phase() == BuildPhase::Finishing) {
            addingDone = true; // only the flush can fail from here on
        }
        checkInterrupt(abort);
    }

    // A member that exists stays until the whole new set replaces it (with -f).
    void onNextCabinet(std::string& cabName, int cabNo, bool& abort) {
        std::string path = kcabSetMember(options.output, cabNo);
        std::string problem;
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0) {
            if (!S_ISREG(status.st_mode)) {
                problem = "is not a regular file; kcab replaces regular files only";
            } else if (!options.replace) {
                problem = "Cabinet already exists (use -f to replace it)";
            }
        }
        if (!problem.empty()) {
            progress.clear();
            err << "kcab: " << shown(path) << ": " << problem << '\n';
            failed = true;
            abort = true;
            return;
        }
        cabName = namePart(path);
        ownCabinets.push_back(path);
    }

    void onError(int errId, int apiCode, const std::string& text, int& action) {
        action = -1; // every other failure stops the run, so nothing is skipped silently
        progress.clear();
        if (failed || (errId == kErrUserAbort && interrupted)) {
            return; // already told, or the user's own Ctrl-C
        }
        failed = true;
        std::string subject = options.output;
        if (text == CabErrorText(ERF{FCIERR_TEMP_FILE, 0, 0})) {
            // Where the temporary files go, not the cabinet; the service's record has
            // no system code for a name it could not get, the platform's last error has.
            if (apiCode == 0) {
                apiCode = static_cast<int>(lastError());
            }
            subject = tempFolder();
        } else if (errId == kErrAddOrFlush && cab.Phase() == BuildPhase::Adding &&
                   !cab.CurrentFile().empty()) {
            subject = cab.CurrentFile();
        }
        err << "kcab: " << shown(subject) << ": " << text;
        if (errId == kErrCabinetExists) {
            err << " (use -f to replace it)";
        }
        err << describeSystemError(apiCode) << " [error " << errId << "]\n";
    }

    void checkInterrupt(bool& abort) {
        if (interrupt.load()) {
            interrupted = true;
            abort = true;
        }
    }

    // Reads the cabinets back and compares every file with its source.
    bool verify(const std::vector<std::string>& cabinets) {
        std::vector<std::string> problems =
            verifyKcabCabinets(cabinets, packed, interrupt, ownCabinets);
        if (interrupt.load()) {
            interrupted = true;
            return false;
        }
        for (const std::string& problem : problems) {
            err << problem << '\n';
        }
        return problems.empty();
    }

    static std::string shown(const std::string& path) { return escapedForTerminal(path); }

    void printSummary(const std::vector<std::string>& stale) {
        std::uint64_t bytes = 0;
        std::string names;
        for (const std::string& path : ownCabinets) {
            bytes += sizeOf(path);
            names += (names.empty() ? "" : ", ") + shown(path);
        }
        out << "kcab: wrote " << names << " (" << cab.FilesHandled()
            << (cab.FilesHandled() == 1 ? " file, " : " files, ") << bytes << " bytes)\n";
        if (!stale.empty()) {
            std::string removed;
            for (const std::string& path : stale) {
                removed += (removed.empty() ? "" : ", ") + shown(path);
            }
            out << "kcab: removed " << removed << ", left from a longer earlier set\n";
        }
    }

    const KcabOptions& options;
    std::ostream& out;
    std::ostream& err;
    const std::atomic<bool>& interrupt;
    KcabProgress progress;
    tkFwCAB cab;
    std::vector<std::string> ownCabinets;
    std::vector<KcabPacked> packed; // in the order the builder added them
    std::int32_t reportedFiles = 0;
    bool failed = false;
    bool interrupted = false;
    bool addingDone = false;
    bool verifyRefused = false;
};

} // namespace

int RunKcab(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            const KcabTerminal& terminal, const std::atomic<bool>& interrupt) {
    KcabOptions options;
    kp::KcabSfxOptions sfx;
    std::vector<std::string> remaining;
    std::string error;
    std::string here = currentDirectory();
    bool parsed = kp::takeKcabSfxOptions(arguments, remaining, sfx, error);
    if (parsed && sfx.requested() && !here.empty()) {
        sfx.output = absoluteKcabPath(sfx.output, here);
        if (!kp::namesKcabOutput(remaining)) {
            remaining.insert(remaining.begin(), {"-o", kp::stagingCabinetFor(sfx)});
        }
    }
    if (parsed && !parseKcabOptions(remaining, options, error)) {
        parsed = false;
    }
    if (!parsed) {
        err << "kcab: " << error << "\nTry 'kcab --help'.\n";
        return kKcabUsage;
    }
    if (options.help) {
        out << kKcabHelp << kp::kKcabSfxHelp;
        return kKcabWritten;
    }
    bool badEpoch = false;
    kp::platform::sourceDateEpoch(&badEpoch);
    if (badEpoch) {
        err << "kcab: SOURCE_DATE_EPOCH must be a whole number of seconds since 1970\n";
        return kKcabUsage;
    }
    if (here.empty()) {
        err << "kcab: cannot read the current folder"
            << describeSystemError(static_cast<int>(lastError())) << '\n';
        return kKcabNotWritten;
    }
    options.output = absoluteKcabPath(options.output, here);
    if (sfx.requested() && !kp::admitKcabSfx(sfx, options.replace, options.cabinetSize, error)) {
        err << "kcab: " << error << '\n';
        return kKcabUsage;
    }
    KcabEntries entries;
    if (!resolveKcabPaths(options.paths, options.recursive, here, entries, error)) {
        err << "kcab: " << escapedForTerminal(error) << '\n';
        return kKcabUsage;
    }
    if (!checkKcabOutput(options.output, entries, error)) {
        err << "kcab: " << error << '\n';
        return kKcabUsage;
    }
    for (const std::string& warning : entries.warnings) {
        err << "kcab: warning: " << escapedForTerminal(warning) << '\n';
    }
    KcabJob job(options, entries, out, err, terminal, interrupt);
    int status = job.run();
    if (sfx.requested()) {
        status = kp::finishKcabSfx(sfx, options.output, status, options.quiet, out, err);
    }
    return status;
}

} // namespace kp
