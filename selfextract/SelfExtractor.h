// The self-extractor, written in one place for the wizard, kcab and the benchmark.
//
// Two layouts: the Windows stub with the cabinet and the question as RT_RCDATA
// resources ("CABINET", "UPROMPT"), or the DOS stub's bytes followed directly by the
// cabinet's. Either is written under a hidden temporary name beside the target and
// takes the target's name only when complete, so a failure or an interruption leaves
// an earlier file of that name as it was and nothing of the build behind. The cabinet
// is copied in pieces: memory does not grow with its size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kp::selfextract {

enum class SfxLayout { Windows, Dos };

// The stub of a layout, as it lies beside the program.
const char* stubFileName(SfxLayout layout);

struct SfxRequest {
    SfxLayout layout = SfxLayout::Windows;
    std::string stub;    // the stub to build on
    std::string cabinet; // one finished cabinet, not a member of a set
    std::string prompt;  // the question (UTF-8), written as Windows-1252; Windows layout only
    std::string target;  // the self-extractor to write
    // An existing target is replaced in one step; without this, a target that exists
    // when the build is done (created meanwhile, too) fails it with kErrorFileExists.
    bool replace = true;
    // Called once the stub is read and the target's content is about to be written,
    // and between the pieces of the cabinet; false stops the build (interrupted).
    std::function<bool()> keepGoing;
};

struct SfxResult {
    // 0 when written; otherwise the Windows error code of the step that failed, as the
    // resource update calls report it: 120 when resource update is switched off (the
    // Windows layout is then not attempted and nothing is written), 193 for a stub that
    // is no PE image, 112 for a full disk, 8 when memory runs out.
    std::uint32_t code = 0;
    bool interrupted = false; // keepGoing said stop; `code` is then not 0 either
    std::string failedPath;   // the file or folder the failing step worked on
    std::uint64_t size = 0;   // of the target, once written
};

// Builds `request.target`. Whatever the outcome, no temporary file is left, and unless
// the result is success the target is as it was before the call.
SfxResult writeSelfExtractor(const SfxRequest& request);

// Largest cabinet the Windows layout can hold: a resource's size and the image's are
// 32-bit fields.
constexpr std::uint64_t kMaxResourceCabinet = 0xFFFFFFFFu;

} // namespace kp::selfextract
