#pragma once

#include <QAbstractButton>
#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <set>
#include <string>

namespace kp {

class FolderBrowserDialog;

enum TBrowseInfoFlags {
    bfFileSysDirsOnly,
    bfDontGoBelowDomain,
    bfStatusText,
    bfFileSysAncestors,
    bfBrowseForComputer,
    bfBrowseForPrinter
};
using TBrowseInfoFlagSet = std::set<TBrowseInfoFlags>;

// The folder at the top of the browser's tree; foDesktopExpanded leaves it to the
// dialog.
enum TSHFolders {
    foDesktop,
    foDesktopExpanded,
    foPrograms,
    foControlPanel,
    foPrinters,
    foPersonal,
    foFavorites,
    foStartup,
    foRecent,
    foSendto,
    foRecycleBin,
    foStartMenu,
    foDesktopDirectory,
    foMyComputer,
    foNetwork,
    foNetworkNeighborhood,
    foFonts,
    foTemplates
};

enum TCustomButtonType { btPushButton, btCheckBox };

class TBrowseFolder;

// DialogHandle: the open dialog. ItemIDList: the tree's entry now selected, invalid
// when none is. Directory: that entry's path, empty when it has none.
using TBrowserInitializedEvent = std::function<void(TBrowseFolder* Sender, QWidget* DialogHandle)>;
using TSelectionChangedEvent =
    std::function<void(TBrowseFolder* Sender, QWidget* DialogHandle, const QModelIndex& ItemIDList,
                       const std::string& Directory)>;
using TCustomButtonClickEvent = std::function<void(TBrowseFolder* Sender, QWidget* DialogHandle)>;

// Shows the folder browser over the window in front and lets the user choose one
// folder: it preselects Directory, shows the selected path in the status line, allows
// OK only on entries with a path, and adds one button of its own, whose clicks reach
// OnCustomButtonClick while the dialog stays open.
class TBrowseFolder : public QObject {
    Q_OBJECT

public:
    explicit TBrowseFolder(QObject* owner = nullptr);

    const std::string& Directory() const { return directory_; }
    void setDirectory(const std::string& value) { directory_ = value; }
    const std::string& Title() const { return title_; }
    void setTitle(const std::string& value) { title_ = value; }
    const TBrowseInfoFlagSet& Flags() const { return flags_; }
    void setFlags(const TBrowseInfoFlagSet& value) { flags_ = value; }
    bool ShowPathInStatusArea() const { return showPathInStatusArea_; }
    void setShowPathInStatusArea(bool value) { showPathInStatusArea_ = value; }
    TSHFolders RootFolder() const { return rootFolder_; }
    void setRootFolder(TSHFolders value) { rootFolder_ = value; }
    bool CustomButtonVisible() const { return customButtonVisible_; }
    void setCustomButtonVisible(bool value) { customButtonVisible_ = value; }
    bool CustomButtonEnabled() const { return customButtonEnabled_; }
    // Acts at once on a live button, as does the caption.
    void setCustomButtonEnabled(bool value);
    const std::string& CustomButtonCaption() const { return customButtonCaption_; }
    void setCustomButtonCaption(const std::string& value);
    int CustomButtonWidth() const { return customButtonWidth_; }
    // A width below 1 stores the default; the next button created has it.
    void setCustomButtonWidth(int value);
    TCustomButtonType CustomButtonType() const { return customButtonType_; }
    void setCustomButtonType(TCustomButtonType value) { customButtonType_ = value; }
    bool CustomButtonChecked() const { return customButtonChecked_; }
    void setCustomButtonChecked(bool value) { customButtonChecked_ = value; }
    bool SyncCustomButton() const { return syncCustomButton_; }
    void setSyncCustomButton(bool value) { syncCustomButton_ = value; }

    TBrowserInitializedEvent OnInitialized;
    TSelectionChangedEvent OnSelectionChanged;
    TCustomButtonClickEvent OnCustomButtonClick;

    // The last dialog and button shown; null once they are gone.
    QWidget* DialogHandle() const { return dialogHandle_; }
    QAbstractButton* CustomButtonHandle() const { return customButtonHandle_; }
    QWidget* OwnerHandle() const { return ownerHandle_; }
    void setOwnerHandle(QWidget* value) { ownerHandle_ = value; }
    const std::string& CurrentDirectory() const { return currentDirectory_; }

    // Shows the dialog modally; true when the user closed it with OK.
    bool Execute();
    // Operations on an open dialog; a DialogHandle that names no open browser makes
    // them do nothing.
    void SetStatusText(QWidget* DialogHandle, const std::string& Text);
    void SetSelection(QWidget* DialogHandle, const std::string& Path);
    void EnableOK(QWidget* DialogHandle, bool Enabled);

    // The path as the status line shows it: at most kStatusPathLimit characters where
    // that can be had by putting "..." for the folders after the first part, keeping
    // the last two parts at least.
    static std::string ShortenStatusPath(const std::string& Path);
    static constexpr std::size_t kStatusPathLimit = 35;
    // Where a dialog of that outer size goes over the window in front: centred across
    // it, a quarter of its height down.
    static QPoint PlaceDialogAt(const QRect& foreground, const QSize& dialog);

    static constexpr int kDefaultCustomButtonWidth = 75;

private:
    QWidget* DialogOwner() const;
    void BrowseCallback(FolderBrowserDialog& dialog, int event, const QModelIndex& item);
    void PlaceDialog(QWidget* dialog) const;
    void CreateCustomButton(FolderBrowserDialog& dialog);

    std::string directory_;
    std::string title_;
    TBrowseInfoFlagSet flags_{bfFileSysDirsOnly, bfStatusText};
    bool showPathInStatusArea_ = false;
    TSHFolders rootFolder_ = foDesktopExpanded;
    bool customButtonVisible_ = false;
    bool customButtonEnabled_ = true;
    std::string customButtonCaption_;
    int customButtonWidth_ = kDefaultCustomButtonWidth;
    TCustomButtonType customButtonType_ = btPushButton;
    bool customButtonChecked_ = false;
    bool syncCustomButton_ = false;

    QPointer<QWidget> dialogHandle_;
    QPointer<QAbstractButton> customButtonHandle_;
    QPointer<QWidget> ownerHandle_;
    std::string currentDirectory_;
};

} // namespace kp
