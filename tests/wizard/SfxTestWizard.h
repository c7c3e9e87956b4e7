// A wizard as a finished compression run leaves it on its sfx page, with a program
// folder of its own that holds copies of the built stubs and "kspool.cab".
#pragma once

#include "CabinetCheck.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "SaveDialog.h"
#include "platform/FileCopy.h"
#include "platform/Files.h"
#include "platform/ProgramFolder.h"
#include "selfextract/ImageBytes.h"
#include "selfextract/PeImage.h"
#include "selfextract/ResourceUpdate.h"
#include "uWCompress.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kp::test {

// Where the build put the stubs: beside the test programs.
inline std::string BuiltStubFolder() {
    return platform::programFolder();
}

inline bool StubsBuilt() {
    return platform::fileExists(BuiltStubFolder() + "kstub16.exe") &&
           platform::fileExists(BuiltStubFolder() + "kstub08.exe");
}

class SfxTestWizard {
public:
    // `program`: an existing folder with its trailing separator.
    explicit SfxTestWizard(const std::string& program) {
        for (const char* stub : {"kstub16.exe", "kstub08.exe"}) {
            platform::copyFile(BuiltStubFolder() + stub, program + stub, false);
        }
        SetProgramFolderForTesting(program);
        SpoolCabFile = program + "kspool.cab";
        previousResponder_ = SetSaveDialogResponder([this](const TSaveDialog& dialog) {
            dialogs.push_back(&dialog);
            std::optional<std::string> answer;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            return answer;
        });
        wizard = std::make_unique<TcWizard>();
    }

    ~SfxTestWizard() {
        wizard.reset();
        SetSaveDialogResponder(std::move(previousResponder_));
        SetProgramFolderForTesting("");
        platform::setResourceUpdateAvailable(true);
    }

    // Makes "kspool.cab" with the wizard's own builder from the trees (folders with
    // their trailing separator) as a run would, shows the sfx page, and returns the
    // cabinet's bytes.
    std::string FinishRun(const std::vector<std::string>& trees) {
        std::filesystem::remove(SpoolCabFile);
        std::vector<std::string> entries;
        for (const std::string& tree : trees) {
            entries.push_back(tree + "*.*");
        }
        wizard->cab.setCabFile(SpoolCabFile);
        wizard->cab.setRecurseFiles(entries);
        wizard->cab.BuildCabinet();
        Step = 7;
        wizard->ShowStep();
        return readFileBytes(SpoolCabFile);
    }

    // Presses "Save..." and types `typed` into the dialog.
    void Choose(const std::string& typed) {
        answers.push_back(typed);
        wizard->BitBtn1->click();
    }

    // Presses Next; the build runs before this returns.
    void Build() { wizard->wnext->click(); }

    std::string Target() const { return wizard->xName->FileName(); }

    RecordedMessageBoxes boxes;
    // What the save dialog will be answered with, in order; nothing left cancels it.
    std::deque<std::optional<std::string>> answers;
    std::vector<const TSaveDialog*> dialogs;
    std::unique_ptr<TcWizard> wizard;

private:
    SaveDialogResponder previousResponder_;
};

inline std::vector<platform::Resource> ResourcesOf(const std::string& exe) {
    const std::string file = readFileBytes(exe);
    const std::vector<std::uint8_t> image(file.begin(), file.end());
    const platform::ImageBytes bytes(image);
    return platform::readPeResources(bytes, platform::readPeLayout(bytes));
}

// The data of a raw-data resource in language 0x0009, as the stub looks it up; empty
// when there is none (no resource the wizard writes is empty).
inline std::string RawResource(const std::string& exe, const std::u16string& name) {
    std::vector<platform::Resource> resources = ResourcesOf(exe);
    const platform::Resource* found = platform::findResource(
        resources, platform::ResourceName::fromId(platform::kResourceTypeRcData),
        platform::ResourceName::fromText(name), platform::kLanguageEnglishNeutral);
    return found ? std::string(found->data.begin(), found->data.end()) : std::string();
}

} // namespace kp::test
