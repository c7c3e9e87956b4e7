// A modal dialog for choosing one folder from a tree of the file system's folders.
#pragma once

#include <QDialog>
#include <QModelIndex>
#include <QPoint>

#include <functional>
#include <optional>
#include <string>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTreeView;

namespace kp {

// Option bits of the dialog, numbered as Windows numbers them. Here only the status
// line changes the dialog: every entry of its tree is a folder of the file system,
// and there are no domains, computers or printers to leave out or to choose.
inline constexpr unsigned kBrowseFileSysDirsOnly = 0x0001;
inline constexpr unsigned kBrowseDontGoBelowDomain = 0x0002;
inline constexpr unsigned kBrowseStatusText = 0x0004;
inline constexpr unsigned kBrowseFileSysAncestors = 0x0008;
inline constexpr unsigned kBrowseForComputer = 0x1000;
inline constexpr unsigned kBrowseForPrinter = 0x2000;

// The dialog has a title above the tree, an optional status line, OK and Cancel, and
// room at its lower left for one button of its client's (created by the client as a
// child of the dialog; its clicks never close the dialog). It tells its client when it
// is set up and every time the selection changes.
class FolderBrowserDialog : public QDialog {
    Q_OBJECT

public:
    enum Notification { Initialized = 1, SelectionChanged = 2 };
    // item: with SelectionChanged the entry now selected, invalid when no entry is
    // (the selected folder went away); with Initialized always invalid.
    using Callback = std::function<void(FolderBrowserDialog& dialog, Notification notification,
                                        const QModelIndex& item)>;

    struct Description {
        // The window the dialog stays in front of; none for a dialog of its own.
        QWidget* owner = nullptr;
        // The folder at the top of the tree. Empty: the file system's root, with the
        // home folder opened.
        std::string root;
        std::string title;
        unsigned options = 0;
        Callback callback;
    };

    // Shows the dialog until the user closes it. After OK: the path of the entry
    // selected then (empty for an entry without one); after Cancel: nothing.
    static std::optional<std::string> Browse(const Description& description);

    // The file-system path of an entry of the tree; empty for an invalid entry.
    static std::string PathOfItem(const QModelIndex& item);

    void SetStatusText(const std::string& text);
    // The whole text, which the status line may show shortened.
    const QString& StatusText() const { return statusText_; }
    void EnableOK(bool enabled);
    // Selects the folder of that path, opening the folders above it; a path that is
    // not in the tree leaves the selection alone.
    void SetSelection(const std::string& path);

    // The place left free for the client's button, in the dialog's client area.
    static constexpr QPoint kExtraButtonPlace{12, 270};
    static constexpr int kExtraButtonHeight = 23;

private:
    explicit FolderBrowserDialog(const Description& description);

    void PlaceControls(bool withStatusLine);
    void ShowTree();
    void SelectDefault();
    QModelIndex ItemOfPath(const QString& path) const;
    void Notify(Notification notification, const QModelIndex& item);

    Callback callback_;
    QString root_;
    QString statusText_;
    QFileSystemModel* folders_ = nullptr;
    QSortFilterProxyModel* shown_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* status_ = nullptr;
    QTreeView* tree_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace kp
