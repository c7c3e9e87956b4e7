#include "BrowseFolder.h"

#include "FolderBrowserDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>

namespace kp::test {
namespace {

TEST(TBrowseFolder, ShortensTheStatusPathAfterItsFirstPart) {
    const std::string at35 = "/home/user/projects/korvath/src/a.c";
    ASSERT_EQ(at35.size(), 35u);
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath(at35), at35);
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath(at35 + "c"), "/.../user/projects/korvath/src/a.cc");
    // Folders after the marker go one by one until it fits; the last two parts stay.
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath("/home/user/projects/korvath/sources/a.c"),
              "/.../projects/korvath/sources/a.c");
    const std::string x40(40, 'x');
    const std::string y40(40, 'y');
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath("/srv/" + x40 + "/" + y40), "/.../" + y40)
        << "three parts stay, however long";
    const std::string twoParts = "media/" + std::string(40, 'x');
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath(twoParts), twoParts);
    // Characters, not bytes: 35 letters of two bytes each fit.
    std::string wide = "/";
    for (int i = 0; i < 17; ++i) {
        wide += "\xC3\xA9/";
    }
    EXPECT_EQ(TBrowseFolder::ShortenStatusPath(wide), wide);
}

TEST(TBrowseFolder, PlacesTheDialogCentredAcrossAQuarterDown) {
    EXPECT_EQ(TBrowseFolder::PlaceDialogAt(QRect(100, 50, 501, 339), QSize(320, 305)),
              QPoint(100 + 250 - 160, 50 + 84));
    EXPECT_EQ(TBrowseFolder::PlaceDialogAt(QRect(-300, -7, 200, 3), QSize(321, 10)),
              QPoint(-300 + 100 - 160, -7 + 0));
}

// Runs drive on the folder browser once it is open; a dialog still open after a few
// seconds is cancelled, so that a failing test ends.
void WhenTheDialogOpens(std::function<void(FolderBrowserDialog&)> drive) {
    QTimer::singleShot(0, [drive = std::move(drive)] {
        auto* dialog = qobject_cast<FolderBrowserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        drive(*dialog);
        QTimer::singleShot(5000, dialog, [dialog] {
            ADD_FAILURE() << "the dialog stayed open";
            dialog->reject();
        });
    });
}

struct BrowserFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(QDir(scratch.path()).mkpath(QStringLiteral("first/inner")));
        ASSERT_TRUE(QDir(scratch.path()).mkpath(QStringLiteral("second")));
        browser.setShowPathInStatusArea(true);
        browser.setCustomButtonVisible(true);
        browser.setCustomButtonCaption("Add &Tree");
        browser.setDirectory(Path("first"));
        browser.OnSelectionChanged = [this](TBrowseFolder* sender, QWidget* dialog,
                                            const QModelIndex&, const std::string& directory) {
            EXPECT_EQ(sender, &browser);
            EXPECT_EQ(dialog, browser.DialogHandle());
            selections.push_back(directory);
        };
    }

    std::string Path(const char* name) const {
        return QDir(scratch.path()).filePath(QLatin1String(name)).toStdString();
    }

    QTemporaryDir scratch;
    TBrowseFolder browser;
    std::vector<std::string> selections;
};

TEST_F(BrowserFixture, OkReturnsTheSelectedFolderAndTheCheckBoxState) {
    browser.setCustomButtonType(btCheckBox);
    // A width below 1 gives the default, not the width set before.
    for (const int width : {0, -4}) {
        browser.setCustomButtonWidth(120);
        browser.setCustomButtonWidth(width);
        EXPECT_EQ(browser.CustomButtonWidth(), 75) << width;
    }
    browser.setCustomButtonWidth(90);
    int clicks = 0;
    browser.OnCustomButtonClick = [&](TBrowseFolder*, QWidget* dialog) {
        ++clicks;
        EXPECT_TRUE(dialog->isVisible()) << "the custom button never closes the dialog";
        browser.setCustomButtonCaption("Added");
    };
    WhenTheDialogOpens([&](FolderBrowserDialog& dialog) {
        EXPECT_EQ(selections, std::vector<std::string>{Path("first")}) << "Directory preselected";
        auto* custom = dialog.findChild<QCheckBox*>(QStringLiteral("CustomButton"));
        ASSERT_NE(custom, nullptr);
        EXPECT_EQ(custom, browser.CustomButtonHandle());
        EXPECT_EQ(custom->geometry(), QRect(12, 270, 90, 23));
        EXPECT_EQ(custom->text(), QStringLiteral("Add &Tree"));
        custom->click();
        EXPECT_EQ(custom->text(), QStringLiteral("Added")) << "the caption acts at once";
        EXPECT_TRUE(custom->isChecked());
        EXPECT_FALSE(browser.CustomButtonChecked()) << "taken only on OK";
        browser.SetSelection(&dialog, Path("first/inner"));
        EXPECT_EQ(browser.CurrentDirectory(), Path("first/inner"));
        EXPECT_EQ(dialog.StatusText().toStdString(),
                  TBrowseFolder::ShortenStatusPath(Path("first/inner")));
        dialog.findChild<QPushButton*>(QStringLiteral("ok"))->click();
    });
    EXPECT_TRUE(browser.Execute());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(browser.Directory(), Path("first/inner"));
    EXPECT_EQ(browser.CurrentDirectory(), Path("first/inner"));
    EXPECT_TRUE(browser.CustomButtonChecked());
    EXPECT_EQ(browser.DialogHandle(), nullptr) << "the dialog is gone";
    browser.setCustomButtonEnabled(false); // no live button to reach any more

    // Cancel keeps Directory and the check box's stored state.
    WhenTheDialogOpens([&](FolderBrowserDialog& dialog) {
        EXPECT_EQ(browser.CurrentDirectory(), Path("first/inner"));
        auto* custom = dialog.findChild<QCheckBox*>(QStringLiteral("CustomButton"));
        EXPECT_TRUE(custom->isChecked());
        EXPECT_FALSE(custom->isEnabled());
        custom->setChecked(false);
        browser.SetSelection(&dialog, Path("second"));
        dialog.findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    });
    EXPECT_FALSE(browser.Execute());
    EXPECT_EQ(browser.Directory(), Path("first/inner"));
    EXPECT_EQ(browser.CurrentDirectory(), Path("second"));
    EXPECT_TRUE(browser.CustomButtonChecked());
}

TEST_F(BrowserFixture, AnEntryWithoutAPathDisablesOkAndASyncedButton) {
    browser.setSyncCustomButton(true);
    WhenTheDialogOpens([&](FolderBrowserDialog& dialog) {
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("ok"));
        auto* custom = dialog.findChild<QPushButton*>(QStringLiteral("CustomButton"));
        ASSERT_NE(custom, nullptr);
        EXPECT_TRUE(ok->isEnabled());
        // The selected folder went away: nothing is selected now.
        dialog.findChild<QTreeView*>(QStringLiteral("tree"))->setCurrentIndex(QModelIndex());
        EXPECT_EQ(selections.back(), "");
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_FALSE(custom->isEnabled());
        EXPECT_FALSE(browser.CustomButtonEnabled());
        browser.SetSelection(&dialog, Path("second"));
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_TRUE(custom->isEnabled());
        dialog.reject();
    });
    EXPECT_FALSE(browser.Execute());
    EXPECT_EQ(selections, (std::vector<std::string>{Path("first"), "", Path("second")}));
}

TEST_F(BrowserFixture, WithoutCustomButtonOrDirectoryTheDialogIsPlain) {
    browser.setCustomButtonVisible(false);
    browser.setDirectory(Path("missing"));
    browser.setFlags({bfFileSysDirsOnly});
    bool initialized = false;
    browser.OnInitialized = [&](TBrowseFolder*, QWidget* dialog) {
        initialized = true;
        EXPECT_EQ(dialog, browser.DialogHandle());
    };
    WhenTheDialogOpens([&](FolderBrowserDialog& dialog) {
        EXPECT_EQ(dialog.findChild<QAbstractButton*>(QStringLiteral("CustomButton")), nullptr);
        EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("status"))->isHidden());
        // The dialog's own choice: the home folder.
        EXPECT_EQ(selections, std::vector<std::string>{QDir::homePath().toStdString()});
        dialog.findChild<QPushButton*>(QStringLiteral("ok"))->click();
    });
    EXPECT_TRUE(browser.Execute());
    EXPECT_TRUE(initialized);
    EXPECT_EQ(browser.Directory(), QDir::homePath().toStdString());
}

TEST_F(BrowserFixture, ARootFolderIsTheTreesOneTopEntry) {
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(scratch.path()));
    browser.setRootFolder(foPersonal);
    browser.setDirectory("");
    WhenTheDialogOpens([&](FolderBrowserDialog& dialog) {
        const auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("tree"));
        ASSERT_EQ(tree->model()->rowCount(tree->rootIndex()), 1);
        const QModelIndex top = tree->model()->index(0, 0, tree->rootIndex());
        EXPECT_EQ(FolderBrowserDialog::PathOfItem(top), scratch.path().toStdString());
        EXPECT_EQ(selections, std::vector<std::string>{scratch.path().toStdString()});
        browser.SetSelection(&dialog, "/");
        EXPECT_EQ(selections.size(), 1u) << "a folder outside the tree is not selected";
        dialog.reject();
    });
    EXPECT_FALSE(browser.Execute());
    qputenv("HOME", home);
}

} // namespace
} // namespace kp::test
