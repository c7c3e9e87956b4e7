#include "BrowseFolder.h"

#include "FolderBrowserDialog.h"
#include "ShellFolders.h"
#include "StringConvert.h"
#include "platform/Files.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QPushButton>

#include <array>
#include <vector>

namespace kp {

namespace {

// Windows' number of each root's special folder, in the order of TSHFolders.
constexpr int kDialogsOwnRoot = -1;
constexpr std::array<int, foTemplates + 1> kSpecialFolders = {
    0x00, kDialogsOwnRoot,
    0x02, 0x03,
    0x04, 0x05,
    0x06, 0x07,
    0x08, 0x09,
    0x0A, 0x0B,
    0x10, 0x11,
    0x12, 0x13,
    0x14, 0x15,
};

// The dialog's option bit of each flag, in the order of TBrowseInfoFlags.
constexpr std::array<unsigned, bfBrowseForPrinter + 1> kFlagBits = {
    kBrowseFileSysDirsOnly,  kBrowseDontGoBelowDomain, kBrowseStatusText,
    kBrowseFileSysAncestors, kBrowseForComputer,       kBrowseForPrinter,
};

constexpr char kEllipsis[] = "...";

// Characters, not bytes: a UTF-8 sequence counts once.
std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char byte : text) {
        count += (static_cast<unsigned char>(byte) & 0xC0u) != 0x80u ? 1 : 0;
    }
    return count;
}

std::vector<std::string> SplitAtSeparators(const std::string& path) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = path.find(platform::kPathSeparator, start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string JoinWithSeparators(const std::vector<std::string>& parts) {
    std::string path;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            path += platform::kPathSeparator;
        }
        path += parts[i];
    }
    return path;
}

FolderBrowserDialog* OpenBrowser(QWidget* DialogHandle) {
    return qobject_cast<FolderBrowserDialog*>(DialogHandle);
}

} // namespace

TBrowseFolder::TBrowseFolder(QObject* owner) : QObject(owner) {}

void TBrowseFolder::setCustomButtonEnabled(bool value) {
    customButtonEnabled_ = value;
    if (customButtonHandle_ != nullptr) {
        customButtonHandle_->setEnabled(value);
    }
}

void TBrowseFolder::setCustomButtonCaption(const std::string& value) {
    customButtonCaption_ = value;
    if (customButtonHandle_ != nullptr) {
        customButtonHandle_->setText(ToQString(value));
    }
}

void TBrowseFolder::setCustomButtonWidth(int value) {
    customButtonWidth_ = value > 0 ? value : kDefaultCustomButtonWidth;
}

QWidget* TBrowseFolder::DialogOwner() const {
    if (ownerHandle_ != nullptr) {
        return ownerHandle_;
    }
    if (auto* window = qobject_cast<QWidget*>(parent())) {
        return window;
    }
    return QApplication::activeWindow();
}

bool TBrowseFolder::Execute() {
    FolderBrowserDialog::Description description;
    description.owner = DialogOwner();
    if (const int folder = kSpecialFolders[rootFolder_]; folder != kDialogsOwnRoot) {
        // A folder without a meaning here leaves the dialog its own root.
        description.root = SpecialFolderLocation(folder).value_or("");
    }
    for (const TBrowseInfoFlags flag : flags_) {
        description.options |= kFlagBits[flag];
    }
    description.title = title_;
    description.callback = [this](FolderBrowserDialog& dialog, int event, const QModelIndex& item) {
        BrowseCallback(dialog, event, item);
    };

    const std::optional<std::string> chosen = FolderBrowserDialog::Browse(description);
    if (!chosen) {
        return false;
    }
    directory_ = *chosen;
    currentDirectory_ = directory_;
    return true;
}

void TBrowseFolder::BrowseCallback(FolderBrowserDialog& dialog, int event,
                                   const QModelIndex& item) {
    switch (event) {
    case FolderBrowserDialog::Initialized:
        dialogHandle_ = &dialog;
        PlaceDialog(&dialog);
        if (QFileInfo(PathToQString(directory_)).isDir()) {
            SetSelection(&dialog, directory_);
        }
        if (customButtonVisible_) {
            CreateCustomButton(dialog);
        }
        if (OnInitialized) {
            OnInitialized(this, &dialog);
        }
        break;
    case FolderBrowserDialog::SelectionChanged: {
        const std::string path = FolderBrowserDialog::PathOfItem(item);
        currentDirectory_ = path;
        if (showPathInStatusArea_) {
            SetStatusText(&dialog, ShortenStatusPath(path));
        }
        EnableOK(&dialog, !path.empty());
        if (OnSelectionChanged) {
            OnSelectionChanged(this, &dialog, item, path);
        }
        break;
    }
    default:
        break;
    }
}

QPoint TBrowseFolder::PlaceDialogAt(const QRect& foreground, const QSize& dialog) {
    return {foreground.left() + foreground.width() / 2 - dialog.width() / 2,
            foreground.top() + foreground.height() / 4};
}

void TBrowseFolder::PlaceDialog(QWidget* dialog) const {
    const QWidget* foreground = QApplication::activeWindow();
    // With no window in front the dialog keeps the place its owner gives it.
    if (foreground == nullptr || foreground == dialog) {
        return;
    }
    dialog->move(PlaceDialogAt(foreground->frameGeometry(), dialog->frameGeometry().size()));
}

void TBrowseFolder::CreateCustomButton(FolderBrowserDialog& dialog) {
    QAbstractButton* button = nullptr;
    if (customButtonType_ == btCheckBox) {
        button = new QCheckBox(&dialog);
    } else {
        button = new QPushButton(&dialog);
    }
    button->setObjectName(QStringLiteral("CustomButton"));
    button->setText(ToQString(customButtonCaption_));
    button->setGeometry(QRect(FolderBrowserDialog::kExtraButtonPlace,
                              QSize(customButtonWidth_, FolderBrowserDialog::kExtraButtonHeight)));
    button->setFont(QApplication::font());
    button->setEnabled(customButtonEnabled_);
    if (customButtonType_ == btCheckBox) {
        button->setChecked(customButtonChecked_);
    }

    // The button's clicks are the component's: they never reach the dialog, which
    // stays open. OK carries the check box's state into CustomButtonChecked.
    QWidget* dialogWindow = &dialog;
    connect(button, &QAbstractButton::clicked, this, [this, dialogWindow] {
        if (OnCustomButtonClick) {
            OnCustomButtonClick(this, dialogWindow);
        }
    });
    connect(&dialog, &QDialog::accepted, this, [this] {
        if (customButtonType_ == btCheckBox && customButtonHandle_ != nullptr) {
            customButtonChecked_ = customButtonHandle_->isChecked();
        }
    });
    customButtonHandle_ = button;
}

void TBrowseFolder::SetStatusText(QWidget* DialogHandle, const std::string& Text) {
    if (FolderBrowserDialog* dialog = OpenBrowser(DialogHandle)) {
        dialog->SetStatusText(Text);
    }
}

void TBrowseFolder::SetSelection(QWidget* DialogHandle, const std::string& Path) {
    if (FolderBrowserDialog* dialog = OpenBrowser(DialogHandle)) {
        dialog->SetSelection(Path);
    }
}

void TBrowseFolder::EnableOK(QWidget* DialogHandle, bool Enabled) {
    if (FolderBrowserDialog* dialog = OpenBrowser(DialogHandle)) {
        dialog->EnableOK(Enabled);
    }
    if (syncCustomButton_) {
        setCustomButtonEnabled(Enabled);
    }
}

std::string TBrowseFolder::ShortenStatusPath(const std::string& Path) {
    if (CharacterCount(Path) <= kStatusPathLimit) {
        return Path;
    }
    std::vector<std::string> parts = SplitAtSeparators(Path);
    if (parts.size() < 3) {
        return Path;
    }
    parts[1] = kEllipsis;
    std::string shortened = JoinWithSeparators(parts);
    // The first part, the marker and the last part always stay.
    while (CharacterCount(shortened) > kStatusPathLimit && parts.size() > 3) {
        parts.erase(parts.begin() + 2);
        shortened = JoinWithSeparators(parts);
    }
    return shortened;
}

} // namespace kp
