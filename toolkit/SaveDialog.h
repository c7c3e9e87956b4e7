// The save dialog: asks for the name of a file to write, with the rules a Windows
// program's save dialog applies to what the user types. It never asks before a name
// replaces an existing file: choosing it is the answer.
#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kp {

class TSaveDialog : public QObject {
    Q_OBJECT

public:
    explicit TSaveDialog(QObject* owner = nullptr);

    const std::string& Title() const { return title_; }
    void setTitle(const std::string& value) { title_ = value; }

    // Added, after a dot, to a name typed without an extension; empty adds nothing.
    const std::string& DefaultExt() const { return defaultExt_; }
    void setDefaultExt(const std::string& value) { defaultExt_ = value; }

    // The file type choices in order, each as "Description (*.a *.b)"; the first is
    // chosen at the start.
    const std::vector<std::string>& Filter() const { return filter_; }
    void setFilter(const std::vector<std::string>& value) { filter_ = value; }

    // A name whose folder does not exist is refused and the dialog stays open.
    bool PathMustExist() const { return pathMustExist_; }
    void setPathMustExist(bool value) { pathMustExist_ = value; }

    // The name the dialog starts with, and after a confirmed Execute the chosen one.
    const std::string& FileName() const { return fileName_; }
    void setFileName(const std::string& value) { fileName_ = value; }

    // Runs the dialog modally over the active window. True when the user confirmed a
    // name (then in FileName); false, with FileName unchanged, when cancelled.
    bool Execute();

    // The name a confirmed `typed` path stands for: with DefaultExt added when its last
    // component has no extension.
    std::string CompletedName(const std::string& typed) const;

    // Whether the dialog may close on the completed `name`; when not, the user has
    // been told why (through the application's message boxes).
    bool Accepts(const std::string& name) const;

private:
    bool ExecuteRealDialog(std::string& chosen);

    std::string title_;
    std::string defaultExt_;
    std::vector<std::string> filter_;
    bool pathMustExist_ = false;
    std::string fileName_;
};

// Stands in for the user at every save dialog: called with the dialog each time it
// would be shown, it returns the path the user types and confirms, or nothing to
// cancel. A name the dialog refuses asks the responder again. Returns the responder
// it replaces; an empty one brings back the real dialog.
using SaveDialogResponder = std::function<std::optional<std::string>(const TSaveDialog&)>;
SaveDialogResponder SetSaveDialogResponder(SaveDialogResponder responder);

} // namespace kp
