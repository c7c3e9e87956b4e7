// Time to build a self-extractor from a large cabinet, beside the time of the same
// reads and writes alone:
//   build/bin/sfx_bench [MEGABYTES]   (default 100; the stub beside the program)
// The cabinet is random bytes of that size: the writer never looks inside it.
#include "platform/LastError.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFiles.h"
#include "platform/WholeFiles.h"
#include "selfextract/SelfExtractor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace kp::platform;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Stub and cabinet copied into a new file in the pieces the writer uses, with
// nothing in between.
double plainInputOutput(const std::string& stub, const std::string& cabinet,
                        const std::string& target) {
    Clock::time_point start = Clock::now();
    std::vector<std::uint8_t> buffer(1 << 20);
    replaceWholeFile(target, 0755, [&](FileHandle out) {
        for (const std::string& part : {stub, cabinet}) {
            FileHandle in = openFile(part, FileAccess::Read, FileDisposition::OpenExisting, true);
            std::uint32_t got = 0;
            bool ok = in != kInvalidHandle;
            while (ok &&
                   readFile(in, buffer.data(), static_cast<std::uint32_t>(buffer.size()), got) &&
                   got > 0) {
                ok = writeAll(out, buffer.data(), got);
            }
            closeFile(in);
            if (!ok) {
                return false;
            }
        }
        return true;
    });
    return millisecondsSince(start);
}

double selfExtractor(const std::string& stub, const std::string& cabinet,
                     const std::string& target) {
    Clock::time_point start = Clock::now();
    kp::selfextract::SfxRequest request;
    request.stub = stub;
    request.cabinet = cabinet;
    request.prompt = "Remove files from cabinet?";
    request.target = target;
    kp::selfextract::SfxResult result = kp::selfextract::writeSelfExtractor(request);
    double elapsed = millisecondsSince(start);
    if (result.code != kErrorSuccess) {
        std::fprintf(stderr, "sfx_bench: failed with system error %u\n", result.code);
        std::exit(1);
    }
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    std::string stub =
        programFolder() + kp::selfextract::stubFileName(kp::selfextract::SfxLayout::Windows);
    std::string folder = tempFolder();
    std::string cabinet = createUniqueTempFile(folder, "sfx-bench-");
    std::string target = createUniqueTempFile(folder, "sfx-bench-");
    std::vector<std::uint8_t> bytes(megabytes << 20);
    std::mt19937 random(1);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    replaceWholeFile(cabinet, 0644,
                     [&](FileHandle out) { return writeAll(out, bytes.data(), bytes.size()); });
    bytes = {};

    double best[2] = {1e30, 1e30};
    for (int round = 0; round < 3; ++round) {
        best[0] = std::min(best[0], plainInputOutput(stub, cabinet, target));
        best[1] = std::min(best[1], selfExtractor(stub, cabinet, target));
    }
    deleteFile(cabinet);
    deleteFile(target);
    std::printf("cabinet %zu MiB, best of 3:\n", megabytes);
    std::printf("  reads and writes alone              %8.1f ms\n", best[0]);
    std::printf("  self-extractor, the same I/O and all %8.1f ms\n", best[1]);
    std::printf("  beyond the reads and writes         %8.1f ms\n", best[1] - best[0]);
    return 0;
}
