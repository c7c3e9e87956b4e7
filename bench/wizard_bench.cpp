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
#include <functional>
#include <string>

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

double SecondsOf(const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double BestOf(int repeat, const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < repeat; ++i) {
        best = std::min(best, SecondsOf(work));
    }
    return best;
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
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: wizard_bench CORPUS KCAB [REPEAT]\n");
        return 2;
    }
    const fs::path corpus = fs::canonical(argv[1]);
    const std::string kcab = argv[2];
    const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const fs::path work = fs::temp_directory_path() / "kp-wizard-bench";
    fs::remove_all(work);
    fs::create_directories(work / "program");
    kp::SetProgramFolderForTesting((work / "program").string() + "/");
    const std::string kcabOut = (work / "kcab.cab").string();

    std::printf("%-12s %-7s %10s %10s %8s\n", "part", "method", "kcab", "wizard", "wizard/kcab");
    bool allRight = true;
    double kcabTotal = 0;
    double wizardTotal = 0;
    for (const char* partName : {"text", "executables", "libraries", "tree"}) {
        const std::string part = (corpus / partName).string();
        for (const Method& method : kMethods) {
            const std::string command = Quoted(kcab) + " -q -f -r --paths full -m " +
                                        method.kcabMethod + " --folder-size " + kFolderSize +
                                        " -o " + Quoted(kcabOut) + " " + Quoted(part);
            bool kcabRan = true;
            const double kcabSeconds =
                BestOf(repeat, [&] { kcabRan = kcabRan && std::system(command.c_str()) == 0; });

            kp::TcWizard wizard;
            wizard.lTree->addItem(QString::fromStdString(part));
            (method.lzx ? wizard.LZX : wizard.MSZIP)->setChecked(true);
            wizard.Track->setValue(method.track);
            wizard.TrackFolder->setValue(kTrackFolder);
            bool wizardRan = true;
            const double wizardSeconds = BestOf(repeat, [&] {
                kp::Step = 5;
                wizard.ShowStep();
                wizard.wnext->click();
                wizardRan = wizardRan && kp::Step == 7;
            });
            const bool right = kcabRan && wizardRan &&
                               GivesBack(kp::SpoolCabFile, part, (work / "restored").string());
            allRight = allRight && right;
            kcabTotal += kcabSeconds;
            wizardTotal += wizardSeconds;
            std::printf("%-12s %-7s %9.3fs %9.3fs %10.3f%s\n", partName, method.name, kcabSeconds,
                        wizardSeconds, wizardSeconds / kcabSeconds, right ? "" : "  WRONG");
            std::fflush(stdout);
        }
    }
    std::printf("%-12s %-7s %9.3fs %9.3fs %10.3f\n", "all", "", kcabTotal, wizardTotal,
                wizardTotal / kcabTotal);
    fs::remove_all(work);
    return allRight ? 0 : 1;
}
