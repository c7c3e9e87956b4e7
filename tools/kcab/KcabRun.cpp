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

#include <csignal>
#include <optional>
#include <pthread.h>

namespace kp {

using namespace platform;

namespace {

// --help and --version succeed only when their text got out: not into a full disk or
// a closed pipe.
int textShown(std::ostream& out, std::ostream& err) {
    out.flush();
    if (out) {
        return kKcabWritten;
    }
    err << "kcab: cannot write to the standard output\n";
    return kKcabNotWritten;
}

std::string describeSystemError(int code) {
    if (code == 0) {
        return {};
    }
    return " (" + systemErrorText(static_cast<std::uint32_t>(code)) + ")";
}

std::uint64_t sizeOf(const std::string& path) {
    std::uint64_t size = 0;
    return platform::fileSize(path, size) ? size : 0;
}

// Holds back the signals that stop kcab while it lives; on its end they are delivered.
// It spans the renames that give a set its names and the removal of an earlier set's
// stale members: one rename and at most one removal per member, a few microseconds each
// on a local disk, so a signal waits at worst for that many metadata writes.
class StopSignalsHeld {
public:
    StopSignalsHeld() {
        sigset_t stopping;
        sigemptyset(&stopping);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
            sigaddset(&stopping, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &stopping, &before);
    }
    ~StopSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
    sigset_t before{};
};

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
        cab.setEffort(options.effort);
        cab.setDiskSize(options.cabinetSize);
        cab.setStorePath(options.storedPaths != StoredPaths::None);
        cab.setPartialPath(options.storedPaths == StoredPaths::Relative);
        cab.setAddFiles(entries.addFiles);
        cab.setRecurseFiles(entries.recurseFiles);
        cab.setReplace(options.replace);
        std::vector<std::string> excluded;
        for (const KcabSetMember& member : earlierKcabSet(options.output)) {
            excluded.push_back(member.path);
        }
        excluded.insert(excluded.end(), options.ownFiles.begin(), options.ownFiles.end());
        cab.setExcludedFiles(excluded);
        cab.OnMajorStatus = [this](tkFwCAB*, const std::string&, int percent, bool& abort) {
            onMajorStatus(percent, abort);
        };
        cab.OnMinorStatus = [this](tkFwCAB*, const std::string& file, int, bool& abort) {
            onMinorStatus(file, abort);
        };
        cab.OnMessageNotify = [this](tkFwCAB*, std::string& cabName, std::string&, int cabNo, int&,
                                     bool& abort) { onNextCabinet(cabName, cabNo, abort); };
        cab.OnCabinetWriting = [this](tkFwCAB*, bool& abort) { checkInterrupt(abort); };
        cab.OnErrorNotify = [this](tkFwCAB*, int errId, int apiCode, const std::string& text,
                                   int& action) { onError(errId, apiCode, text, action); };
        cab.OnSizeChange = [this](tkFwCAB*, const std::string& file, std::int64_t stored) {
            progress.clear();
            this->err << "kcab: warning: " << shown(file)
                      << ": changed size while it was packed; the cabinet holds the " << stored
                      << " bytes read\n";
        };
        // Checked while the set still has its staging names, so that a cabinet that
        // fails leaves an earlier one under the output's name as it was.
        cab.OnCabinetsStaged = [this](tkFwCAB*, const std::vector<std::string>& staging,
                                      bool& abort) {
            progress.clear();
            if (this->options.verify && !verify(staging)) {
                verifyRefused = true;
                abort = true;
            } else if (!claimSet()) {
                commitRefused = true;
                abort = true;
            }
        };
        cab.OnWindowsNames = [this](tkFwCAB*, const std::vector<TWindowsNameReport>& reports,
                                    bool& abort) { onWindowsNames(reports, abort); };
    }

    int run() {
        cab.BuildCabinet();
        std::vector<std::string> stale;
        // The builder leaves nothing of a run that did not finish: no cabinet to remove.
        bool written = !failed && !interrupted && !verifyRefused && !commitRefused &&
                       !namesRefused && addingDone && fileExists(options.output);
        if (written && options.replace) {
            stale = removeStaleKcabMembers(earlierAtCommit, static_cast<int>(ownCabinets.size()));
        }
        // A signal that came during the renames is taken now, after the set is whole.
        signalsHeld.reset();
        setLock.release();
        progress.clear();
        if (namesRefused) {
            return kKcabUsage;
        }
        if (verifyRefused || commitRefused) {
            if (interrupted) {
                err << "kcab: interrupted; no cabinet written\n";
                return kKcabInterrupted;
            }
            if (verifyRefused) {
                err << "kcab: " << shown(options.output)
                    << ": does not hold what was packed; not written\n";
            }
            return kKcabNotWritten;
        }
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
        if (cab.FilesHandled() == 0) {
            err << "kcab: warning: " << shown(options.output)
                << ": no files packed; most extractors refuse an empty cabinet\n";
        }
        if (!options.quiet && !options.cabinetIsStep) {
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
        if (options.singleCabinet) {
            progress.clear();
            err << "kcab: the job does not fit in one cabinet, and a self-extractor holds one\n";
            failed = true;
            abort = true;
            return;
        }
        platform::PathKind kind = platform::pathKind(path, false);
        if (kind != platform::PathKind::Missing) {
            if (kind != platform::PathKind::File) {
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
        action = kActionAbort; // every other failure stops the run, so nothing is skipped silently
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

    // A backslash inside a name is never stored; the rest only matters where the
    // cabinet is unpacked on Windows, which a self-extractor always is.
    void onWindowsNames(const std::vector<TWindowsNameReport>& reports, bool& abort) {
        progress.clear();
        bool refuse = false;
        for (const TWindowsNameReport& report : reports) {
            bool error = report.Issue == TWindowsNameIssue::Backslash ||
                         (options.forWindows && !options.acceptNameLoss);
            refuse = refuse || error;
            err << "kcab: " << (error ? "" : "warning: ") << shown(report.FileName) << ": "
                << windowsNameProblem(report) << '\n';
        }
        if (refuse) {
            if (options.forWindows && !options.acceptNameLoss) {
                err << "kcab: not built: a self-extractor is unpacked on Windows; rename these "
                       "files, or accept the loss with --accept-name-loss\n";
            }
            namesRefused = true;
            abort = true;
        }
    }

    static std::string windowsNameProblem(const TWindowsNameReport& report) {
        switch (report.Issue) {
        case TWindowsNameIssue::Backslash:
            return std::string(kBackslashNameText) + "; rename it first";
        case TWindowsNameIssue::NotCreatable:
            return "stored as " + shown(report.StoredName) + ", but " + shown(report.Reason) +
                   "; Windows cannot create it as named";
        case TWindowsNameIssue::SameName:
            return "stored as " + shown(report.StoredName) + ", which Windows takes for " +
                   shown(report.OtherStoredName) + " (" + shown(report.OtherFile) +
                   "); extracting there keeps only one of them";
        case TWindowsNameIssue::FileIsFolder:
            return "stored as " + shown(report.StoredName) +
                   ", which on Windows is also the folder holding " +
                   shown(report.OtherStoredName) + " (" + shown(report.OtherFile) +
                   "); extracting there cannot create both";
        }
        return {};
    }

    void checkInterrupt(bool& abort) {
        if (interrupt.load()) {
            interrupted = true;
            abort = true;
        }
    }

    // The last step before the set takes its names: a pending interrupt still stops the
    // run here; otherwise the folder's lock is taken (waiting for another run writing
    // there), the earlier set read under it, and the stopping signals held until the
    // renames and removals are over, so no signal can leave a mix of two sets.
    bool claimSet() {
        checkInterrupt(commitRefused);
        if (interrupted) {
            return false;
        }
        std::string error;
        auto waiting = [this] {
            if (!options.quiet) {
                progress.clear();
                err << "kcab: waiting for another kcab writing in "
                    << shown(folderPart(options.output)) << '\n';
            }
        };
        if (!setLock.acquire(folderPart(options.output), interrupt, waiting, error)) {
            if (error.empty()) {
                interrupted = true;
            } else {
                err << "kcab: " << error << '\n';
            }
            return false;
        }
        earlierAtCommit = earlierKcabSet(options.output);
        signalsHeld.emplace();
        checkInterrupt(commitRefused); // one that came while the set was read
        return !interrupted;
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
    bool commitRefused = false;
    KcabFolderLock setLock;
    std::vector<KcabSetMember> earlierAtCommit;
    std::optional<StopSignalsHeld> signalsHeld;
    bool namesRefused = false;
};

} // namespace

int runKcab(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
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
        return textShown(out, err);
    }
    if (options.version) {
        out << kKcabVersion << '\n';
        return textShown(out, err);
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
    options.forWindows = sfx.requested();
    if (sfx.requested() && !kp::admitKcabSfx(sfx, options.replace, options.cabinetSize, error)) {
        err << "kcab: " << error << '\n';
        return kKcabUsage;
    }
    KcabEntries entries;
    if (!resolveKcabPaths(options.paths, options.recursive, here, entries, error)) {
        err << "kcab: " << escapedForTerminal(error) << '\n';
        return kKcabUsage;
    }
    if (!checkKcabOutput(options.output, entries, error) ||
        (sfx.requested() && !checkKcabFile(sfx.output, entries, error))) {
        err << "kcab: " << error << '\n';
        return kKcabUsage;
    }
    if (sfx.requested()) {
        options.ownFiles.push_back(sfx.output);
        options.singleCabinet = true;
        options.cabinetIsStep = !sfx.staging.empty();
    }
    for (const std::string& warning : entries.warnings) {
        err << "kcab: warning: " << escapedForTerminal(warning) << '\n';
    }
    KcabJob job(options, entries, out, err, terminal, interrupt);
    int status = job.run();
    if (sfx.requested()) {
        status = kp::finishKcabSfx(sfx, options.output, status, options.quiet, out, err, interrupt);
    }
    return status;
}

} // namespace kp
