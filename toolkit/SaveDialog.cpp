#include "SaveDialog.h"

#include "MessageBox.h"
#include "StringConvert.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace kp {
namespace {

SaveDialogResponder& CurrentResponder() {
    static SaveDialogResponder responder;
    return responder;
}

// Qt's file dialog, closing on a confirmed name only under TSaveDialog's rules (Qt's
// own would add the extension differently and ask before replacing a file).
class SaveFileDialog : public QFileDialog {
public:
    SaveFileDialog(const TSaveDialog& settings, QWidget* parent)
        : QFileDialog(parent, ToQString(settings.Title())), settings_(settings) {
        setObjectName(settings.objectName());
        // Qt's widgets rather than the desktop's dialog, so that the rules below hold.
        setOptions(DontUseNativeDialog | DontConfirmOverwrite);
        setAcceptMode(AcceptSave);
        setFileMode(AnyFile);
        QStringList filters;
        for (const std::string& filter : settings.Filter()) {
            filters << ToQString(filter);
        }
        setNameFilters(filters);
        if (!settings.FileName().empty()) {
            selectFile(PathToQString(settings.FileName()));
        }
    }

    const std::string& Chosen() const { return chosen_; }

    void accept() override {
        const QStringList typed = selectedFiles();
        if (typed.isEmpty()) {
            return;
        }
        const QFileInfo file(typed.first());
        if (file.isDir()) {
            // A folder's name opens that folder, as in every save dialog.
            setDirectory(file.absoluteFilePath());
            return;
        }
        const std::string name = settings_.CompletedName(PathFromQString(typed.first()));
        if (settings_.Accepts(name)) {
            chosen_ = name;
            QDialog::accept();
        }
    }

private:
    const TSaveDialog& settings_;
    std::string chosen_;
};

} // namespace

TSaveDialog::TSaveDialog(QObject* owner) : QObject(owner) {}

bool TSaveDialog::Execute() {
    std::string chosen;
    if (const SaveDialogResponder& responder = CurrentResponder()) {
        for (;;) {
            const std::optional<std::string> typed = responder(*this);
            if (!typed) {
                return false;
            }
            chosen = CompletedName(*typed);
            if (Accepts(chosen)) {
                break;
            }
        }
    } else if (!ExecuteRealDialog(chosen)) {
        return false;
    }
    fileName_ = chosen;
    return true;
}

bool TSaveDialog::ExecuteRealDialog(std::string& chosen) {
    // Without a GUI application nobody can answer: the same as cancelling.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    SaveFileDialog dialog(*this, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    chosen = dialog.Chosen();
    return true;
}

std::string TSaveDialog::CompletedName(const std::string& typed) const {
    const std::string lastPart = std::filesystem::path(typed).filename().string();
    if (defaultExt_.empty() || lastPart.find('.') != std::string::npos) {
        return typed;
    }
    return typed + "." + defaultExt_;
}

bool TSaveDialog::Accepts(const std::string& name) const {
    if (!pathMustExist_) {
        return true;
    }
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::absolute(name, error).parent_path();
    if (!error && std::filesystem::is_directory(folder, error)) {
        return true;
    }
    MessageBox(name + "\nThe folder does not exist.\nCheck the path and try again.", title_,
               MessageIcon::Warning, MessageButtons::OK);
    return false;
}

SaveDialogResponder SetSaveDialogResponder(SaveDialogResponder responder) {
    SaveDialogResponder previous = std::move(CurrentResponder());
    CurrentResponder() = std::move(responder);
    return previous;
}

} // namespace kp
