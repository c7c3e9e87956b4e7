// The wizard's compression run beside kcab with the same settings, on the bench
// corpus: how much the run's event handlers (progress, file name, message processing)
// cost the builder. Run through `bench/run --wizard`, or by hand:
//   QT_QPA_PLATFORM=offscreen build/bin/wizard_bench CORPUS KCAB [REPEAT]
// Each part of CORPUS becomes one tree; every cabinet of the wizard is extracted with
// cabextract and compared with its part (`diff -r`).
#include "ProgramFolder.h"
#include "uWCompress.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Method {
    const char* name;
    const char* kcabMethod;
    bool lzx;
    int track; // the LZX window 2^(14 + track)
};

// The wizard's own start: LZX with a 256 KB window, folders of 2 MB, full paths.
constexpr Method kMethods[] = {{"lzx:18", "lzx:18", true, 4}, {"mszip", "mszip", false, 1}};
constexpr char kFolderSize[] = "2097152";
constexpr int kTrackFolder = 2;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

double CpuSecondsOf(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Adds one run of `work` to `best`, by wall and by CPU time; `who` says whose CPU time
// counts: this process's own (RUSAGE_SELF) or that of its ended children (RUSAGE_CHILDREN).
void TimeOnce(Timing& best, int who, const std::function<void()>& work) {
    const double cpuStart = CpuSecondsOf(who);
    const Clock::time_point start = Clock::now();
    work();
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    best.cpu = std::min(best.cpu, CpuSecondsOf(who) - cpuStart);
}

std::string BytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The cabinet holds full paths without the leading '/': extracted, the part lies
// below `restored` under its own absolute path.
bool GivesBack(const std::string& cabinet, const std::string& part, const std::string& restored) {
    fs::remove_all(restored);
    const std::string command = "cabextract -q -d " + Quoted(restored) + " " + Quoted(cabinet) +
                                " && diff -r " + Quoted(part) + " " + Quoted(restored + part);
    const bool same = std::system(command.c_str()) == 0;
    fs::remove_all(restored);
    return same;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A fixed moment: the set identifier follows from the entries, not from chance.
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: wizard_bench CORPUS KCAB [REPEAT [PART [METHOD]]]\n");
        return 2;
    }
    const fs::path corpus = fs::canonical(argv[1]);
    const std::string kcab = argv[2];
    const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::string onlyPart = argc > 4 ? argv[4] : "";
    const std::string onlyMethod = argc > 5 ? argv[5] : "";
    const fs::path work = fs::temp_directory_path() / "kp-wizard-bench";
    fs::remove_all(work);
    fs::create_directories(work / "program");
    kp::SetProgramFolderForTesting((work / "program").string() + "/");
    // The clip the build puts beside this program, so that the animation plays during the
    // run as it does for a user, in a window that is shown and painted.
    const fs::path clip = fs::canonical("/proc/self/exe").parent_path() / "solefile.avi";
    std::error_code noClip;
    fs::copy_file(clip, work / "program" / "solefile.avi", noClip);
    const std::string kcabOut = (work / "kcab.cab").string();

    if (noClip) {
        std::fprintf(stderr, "wizard_bench: no clip at %s: the run goes without the animation\n",
                     clip.c_str());
    }
    std::printf("%-12s %-7s %10s %10s %8s %10s %10s %8s\n", "part", "method", "kcab", "wizard",
                "wizard/kcab", "kcab cpu", "wizard cpu", "cpu ratio");
    bool allRight = true;
    Timing kcabTotal{0, 0};
    Timing wizardTotal{0, 0};
    for (const char* partName : {"text", "executables", "libraries", "tree"}) {
        if (!onlyPart.empty() && onlyPart != partName) {
            continue;
        }
        const std::string part = (corpus / partName).string();
        for (const Method& method : kMethods) {
            if (!onlyMethod.empty() && onlyMethod != method.name) {
                continue;
            }
            const std::string command = Quoted(kcab) + " -q -f -r --paths full -m " +
                                        method.kcabMethod + " --folder-size " + kFolderSize +
                                        " -o " + Quoted(kcabOut) + " " + Quoted(part);
            kp::TcWizard wizard;
            wizard.lTree->addItem(QString::fromStdString(part));
            (method.lzx ? wizard.LZX : wizard.MSZIP)->setChecked(true);
            wizard.Track->setValue(method.track);
            wizard.TrackFolder->setValue(kTrackFolder);
            wizard.show();
            bool kcabRan = true;
            bool wizardRan = true;
            Timing kcabTime;
            Timing wizardTime;
            for (int i = 0; i < repeat; ++i) {
                TimeOnce(kcabTime, RUSAGE_CHILDREN,
                         [&] { kcabRan = kcabRan && std::system(command.c_str()) == 0; });
                TimeOnce(wizardTime, RUSAGE_SELF, [&] {
                    kp::Step = 5;
                    wizard.ShowStep();
                    wizard.wnext->click();
                    wizardRan = wizardRan && kp::Step == 7;
                });
            }
            const bool same = kcabRan && wizardRan && BytesOf(kcabOut) == BytesOf(kp::SpoolCabFile);
            const bool right =
                same && GivesBack(kp::SpoolCabFile, part, (work / "restored").string());
            allRight = allRight && right;
            kcabTotal.wall += kcabTime.wall;
            kcabTotal.cpu += kcabTime.cpu;
            wizardTotal.wall += wizardTime.wall;
            wizardTotal.cpu += wizardTime.cpu;
            std::printf("%-12s %-7s %9.3fs %9.3fs %10.3f %9.3fs %9.3fs %9.3f%s\n", partName,
                        method.name, kcabTime.wall, wizardTime.wall,
                        wizardTime.wall / kcabTime.wall, kcabTime.cpu, wizardTime.cpu,
                        wizardTime.cpu / kcabTime.cpu,
                        !same   ? "  DIFFERENT"
                        : right ? ""
                                : "  WRONG");
            std::fflush(stdout);
        }
    }
    std::printf("%-12s %-7s %9.3fs %9.3fs %10.3f %9.3fs %9.3fs %9.3f\n", "all", "", kcabTotal.wall,
                wizardTotal.wall, wizardTotal.wall / kcabTotal.wall, kcabTotal.cpu, wizardTotal.cpu,
                wizardTotal.cpu / kcabTotal.cpu);
    fs::remove_all(work);
    return allRight ? 0 : 1;
}
