// kcab's self-extractor step: after the cabinet is written, it becomes a Windows
// executable that unpacks it (the stub kstub16.exe with the cabinet and a question
// as resources), or the DOS-based layout (kstub08.exe followed by the cabinet).
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kp {

struct KcabSfxOptions {
    std::string output; // the self-extractor to write; empty when none is asked for
    std::string prompt = "Remove files from cabinet?";
    std::string stub; // empty: the stub that lies beside kcab (admitKcabSfx fills it in)
    bool dos = false;
    std::string staging;  // the cabinet made only on the way to the self-extractor, if any
    bool replace = false; // -f: an existing OUT.exe is replaced

    bool requested() const { return !output.empty(); }
};

extern const char* const kKcabSfxHelp;

// Takes --sfx OUT.exe, --prompt TEXT, --stub PATH and --sfx-dos (also as --name=value)
// out of `arguments` (up to a "--") and leaves the rest in `remaining`. False with
// `error` set on a mistake.
bool takeKcabSfxOptions(const std::vector<std::string>& arguments,
                        std::vector<std::string>& remaining, KcabSfxOptions& sfx,
                        std::string& error);

// True when `remaining` names the cabinet with -o or --output.
bool namesKcabOutput(const std::vector<std::string>& remaining);

// Names the cabinet to write when only the self-extractor is wanted: a hidden file
// beside it, removed again by finishKcabSfx.
std::string stagingCabinetFor(KcabSfxOptions& sfx);

// Checks, before any work, what would stop the self-extractor: a set of cabinets, an
// existing OUT.exe without -f (`replace`), a missing folder or stub. Sets `sfx.stub`
// to the stub beside kcab when none was named.
bool admitKcabSfx(KcabSfxOptions& sfx, bool replace, std::int32_t cabinetSize, std::string& error);

// After the cabinet run that ended with `status`: builds the self-extractor from
// `cabinet` if the run succeeded, removes a staging cabinet, and returns the status.
int finishKcabSfx(const KcabSfxOptions& sfx, const std::string& cabinet, int status, bool quiet,
                  std::ostream& out, std::ostream& err, const std::atomic<bool>& interrupt);

// Turns the finished single cabinet at `cabinet` into the self-extractor `sfx.output`
// (an absolute path). Returns kcab's exit status; on failure or when `interrupt` is
// set meanwhile, an earlier OUT.exe is left as it was and nothing of the build.
int buildKcabSelfExtractor(const KcabSfxOptions& sfx, const std::string& cabinet, bool quiet,
                           std::ostream& out, std::ostream& err,
                           const std::atomic<bool>& interrupt);

} // namespace kp
