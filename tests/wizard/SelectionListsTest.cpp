#include "SelectionLists.h"

#include "FolderBrowserDialog.h"
#include "MessageBox.h"
#include "uWCompress.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kp::test {
namespace {

using Names = std::vector<std::string>;

// A scratch tree: the folders Data and DATA (the same entry to the lists), Other,
// and the files Data/notes.txt and a.txt, b.txt. The current directory comes back
// after each test.
class SelectionListsTest : public ::testing::Test {
protected:
    void SetUp() override {
        startDirectory = QDir::currentPath();
        const QDir root(scratch.path());
        for (const char* folder : {"Data", "DATA", "Other"}) {
            ASSERT_TRUE(root.mkpath(QLatin1String(folder)));
        }
        for (const char* file : {"Data/notes.txt", "a.txt", "b.txt"}) {
            QFile created(root.filePath(QLatin1String(file)));
            ASSERT_TRUE(created.open(QIODevice::WriteOnly));
        }
        TreeSelection.clear();
        FolderSelection.clear();
        wizard = std::make_unique<TcWizard>();
    }
    void TearDown() override { QDir::setCurrent(startDirectory); }

    std::string Path(const char* name) const {
        return QDir(scratch.path()).filePath(QLatin1String(name)).toStdString();
    }

    QTemporaryDir scratch;
    QString startDirectory;
    RecordedMessageBoxes boxes;
    std::unique_ptr<TcWizard> wizard;
};

void Type(QLineEdit* edit, const std::string& text) {
    edit->setText(QString::fromStdString(text));
}

TEST_F(SelectionListsTest, TypedFoldersMoveTheCurrentDirectoryAndFilesResolveFromIt) {
    Type(wizard->tTree, Path("Data"));
    wizard->aTree->click();
    EXPECT_EQ(Entries(*wizard->lTree), Names{Path("Data")});
    EXPECT_EQ(QDir::currentPath().toStdString(), Path("Data"));
    Type(wizard->tFiles, "notes.txt");
    wizard->aFiles->click();
    EXPECT_EQ(Entries(*wizard->lFiles), Names{"notes.txt"}) << "listed as typed";

    // Ignored: a missing folder, an empty text, another letter case of a listed folder
    // (an existing folder here), a folder on the Files page, a listed file again.
    for (const std::string& text : {Path("missing"), std::string(), Path("DATA")}) {
        Type(wizard->tTree, text);
        wizard->aTree->click();
    }
    EXPECT_EQ(Entries(*wizard->lTree), Names{Path("Data")});
    EXPECT_EQ(QDir::currentPath().toStdString(), Path("DATA"));
    EXPECT_EQ(wizard->tTree->text().toStdString(), Path("DATA")) << "the edit keeps its text";
    for (const std::string& text : {Path("Other"), Path("Data/NOTES.TXT"), Path("a.txt")}) {
        Type(wizard->tFiles, text);
        wizard->aFiles->click();
    }
    EXPECT_EQ(Entries(*wizard->lFiles), (Names{"notes.txt", Path("a.txt")}));
    Type(wizard->tFolder, Path("Other"));
    wizard->aFolder->click();
    EXPECT_EQ(Entries(*wizard->lFolder), Names{Path("Other")});
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(SelectionListsTest, RemoveTakesTheSelectedEntriesAndClickCopiesOne) {
    for (const char* entry : {"/0", "/1", "/2", "/3", "/4", "/5"}) {
        AppendEntry(*wizard->lTree, entry);
    }
    for (int row : {1, 2, 4}) {
        wizard->lTree->item(row)->setSelected(true);
    }
    wizard->lTree->setCurrentRow(4, QItemSelectionModel::Current);
    wizard->lTree->itemClicked(wizard->lTree->item(4));
    EXPECT_EQ(wizard->tTree->text(), QStringLiteral("/4"));
    wizard->sTree->click();
    EXPECT_EQ(Entries(*wizard->lTree), (Names{"/0", "/3", "/5"}));
    EXPECT_EQ(wizard->tTree->text(), QStringLiteral("/4")) << "removing picks nothing";
    wizard->cTree->click();
    EXPECT_EQ(wizard->lTree->count(), 0);
}

// The minus button takes exactly the entries the user selected, on every list, whatever
// the list does with its current row as entries go; a second press takes nothing.
TEST_F(SelectionListsTest, RemoveTakesOnlyTheChosenEntriesOnEveryList) {
    struct Case {
        std::vector<int> chosen;
        Names left;
    };
    const Case cases[] = {
        {{2}, {"/0", "/1"}}, {{1}, {"/0", "/2"}}, {{0}, {"/1", "/2"}}, {{0, 2}, {"/1"}}};
    for (auto [list, remove] :
         {std::pair{wizard->lTree, wizard->sTree}, std::pair{wizard->lFolder, wizard->sFolder},
          std::pair{wizard->lFiles, wizard->sFiles}}) {
        const bool single = list->selectionMode() == QAbstractItemView::SingleSelection;
        for (const Case& c : cases) {
            if (single && c.chosen.size() > 1) {
                continue;
            }
            list->clear();
            for (const char* entry : {"/0", "/1", "/2"}) {
                AppendEntry(*list, entry);
            }
            for (int row : c.chosen) {
                // As a click does: the entry becomes current and selected.
                list->setCurrentRow(row, single ? QItemSelectionModel::ClearAndSelect
                                                : QItemSelectionModel::Select);
            }
            remove->click();
            EXPECT_EQ(Entries(*list), c.left) << list->objectName().toStdString();
            remove->click();
            EXPECT_EQ(Entries(*list), c.left)
                << list->objectName().toStdString() << ": nothing is selected after a remove";
        }
    }
}

// Runs drive on the folder browser once it is open.
void WhenTheBrowserOpens(std::function<void(FolderBrowserDialog&)> drive) {
    QTimer::singleShot(0, [drive = std::move(drive)] {
        auto* dialog = qobject_cast<FolderBrowserDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        drive(*dialog);
    });
}

void Press(FolderBrowserDialog& dialog, const char* button) {
    dialog.findChild<QAbstractButton*>(QLatin1String(button))->click();
}

TEST_F(SelectionListsTest, TheBrowserListsOnlyFoldersQueuedWithItsButtonAndClosedWithOk) {
    const auto browse = [&](const char* folder, int customClicks, const char* close) {
        WhenTheBrowserOpens([&, folder, customClicks, close](FolderBrowserDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Browse for Folder"));
            wizard->bTree->SetSelection(&dialog, Path(folder));
            for (int i = 0; i < customClicks; ++i) {
                Press(dialog, "CustomButton");
            }
            Press(dialog, close);
        });
        wizard->cbTree->click();
    };
    browse("Data", 1, "cancel");
    browse("Data", 0, "ok");
    EXPECT_EQ(wizard->lTree->count(), 0);
    browse("Data", 2, "ok");
    EXPECT_EQ(Entries(*wizard->lTree), Names{Path("Data")});

    // On a listed folder the button reports all the same and queues nothing.
    WhenTheBrowserOpens([&](FolderBrowserDialog& dialog) {
        EXPECT_EQ(TreeSelection, Path("Data")) << "the last folder chosen is preselected";
        Press(dialog, "CustomButton");
        EXPECT_EQ(dialog.StatusText().toStdString(), "Added tree \"" + Path("Data") + "\".");
        EXPECT_TRUE(PendingTrees.empty());
        Press(dialog, "ok");
    });
    wizard->cbTree->click();
    EXPECT_EQ(wizard->lTree->count(), 1);

    WhenTheBrowserOpens([&](FolderBrowserDialog& dialog) {
        EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("title"))->text(),
                  QStringLiteral("Choose the Folders to Compress:"));
        wizard->bFolder->SetSelection(&dialog, Path("Other"));
        Press(dialog, "CustomButton");
        EXPECT_EQ(dialog.StatusText().toStdString(), "Added Folder \"" + Path("Other") + "\".");
        Press(dialog, "ok");
    });
    wizard->cbFolder->click();
    EXPECT_EQ(Entries(*wizard->lFolder), Names{Path("Other")});

    // With nothing selected (the selected folder went away) the button queues nothing:
    // an empty entry would stand for whatever folder is current when compressing.
    WhenTheBrowserOpens([&](FolderBrowserDialog& dialog) {
        dialog.findChild<QTreeView*>(QStringLiteral("tree"))->setCurrentIndex(QModelIndex());
        EXPECT_EQ(FolderSelection, "");
        Press(dialog, "CustomButton");
        EXPECT_TRUE(PendingFolders.empty());
        dialog.accept();
    });
    wizard->cbFolder->click();
    EXPECT_EQ(Entries(*wizard->lFolder), Names{Path("Other")});
}

TEST_F(SelectionListsTest, TheFilesDialogListsEveryChosenFileOnce) {
    AppendEntry(*wizard->lFiles, Path("A.TXT"));
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choose the Files to Compress:"));
        dialog->setDirectory(scratch.path());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("\"a.txt\" \"b.txt\""));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    wizard->cbFiles->click();
    EXPECT_EQ(Entries(*wizard->lFiles), (Names{Path("A.TXT"), Path("b.txt")}));
}

// What the window system sends when names are dragged onto a widget and let go.
bool Drop(QWidget* target, const Names& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) {
        urls << QUrl::fromLocalFile(QString::fromStdString(path));
    }
    data.setUrls(urls);
    data.setText(QStringLiteral("what an edit box would paste"));
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

TEST_F(SelectionListsTest, DropsSortFoldersByTheAnswerAndShowTheMethodPage) {
    Step = 2;
    wizard->ShowStep();
    boxes.QueueAnswer(MessageResult::No);
    EXPECT_TRUE(Drop(wizard->tTree, {Path("a.txt"), Path("Other"), Path("b.txt")}));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Do you wish to compress the dropped folders recursively?");
    EXPECT_EQ(boxes.Boxes()[0].title, "Question");
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Question);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(Entries(*wizard->lFiles), (Names{Path("a.txt"), Path("b.txt")}));
    EXPECT_EQ(Entries(*wizard->lFolder), Names{Path("Other")});
    EXPECT_TRUE(wizard->tTree->text().isEmpty()) << "the edit box took nothing";
    EXPECT_EQ(Step, 5);
    EXPECT_EQ(wizard->Steps->currentWidget()->objectName(), QStringLiteral("Method"));

    boxes.QueueAnswer(MessageResult::Yes);
    EXPECT_TRUE(Drop(wizard->cDescribe, {Path("Data"), Path("a.txt"), Path("gone")}));
    EXPECT_EQ(Entries(*wizard->lTree), Names{Path("Data")});
    EXPECT_EQ(Entries(*wizard->lFiles),
              (Names{Path("a.txt"), Path("b.txt"), Path("a.txt"), Path("gone")}))
        << "a drop lists a name again; a name of nothing joins the files";
    EXPECT_TRUE(wizard->cDescribe->text().isEmpty());
    EXPECT_TRUE(Drop(wizard->Steps, {Path("b.txt")}));
    EXPECT_EQ(boxes.Boxes().size(), 2u) << "only files: no question";

    // Page 6 refuses drops while its run goes on (the compression run's tests).
    for (int step : {7, 8}) {
        Step = step;
        wizard->ShowStep();
        EXPECT_FALSE(Drop(wizard->Steps, {Path("a.txt"), Path("Data")})) << "on page " << step;
        EXPECT_EQ(Step, step);
    }
    EXPECT_EQ(wizard->lFiles->count(), 5);
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

TEST_F(SelectionListsTest, ArgumentsAreTakenLikeADrop) {
    // A relative name is made whole from where the program starts, since a typed
    // folder moves the current directory later.
    ASSERT_TRUE(QDir::setCurrent(scratch.path()));
    TcWizard withFile({"a.txt"});
    EXPECT_EQ(Step, 5);
    EXPECT_EQ(withFile.StatusText->text(), QStringLiteral("Compression Settings"));
    EXPECT_EQ(Entries(*withFile.lFiles), Names{Path("a.txt")});
    EXPECT_TRUE(boxes.Boxes().empty());

    boxes.QueueAnswer(MessageResult::Yes);
    TcWizard withFolder({"./Data"});
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(Entries(*withFolder.lTree), Names{Path("Data")});
    EXPECT_EQ(Step, 5);
}

} // namespace
} // namespace kp::test
