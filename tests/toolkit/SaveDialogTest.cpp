#include "SaveDialog.h"

#include "MessageBox.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace kp::test {
namespace {

// Runs `user` on the real dialog once it is up; should it never come up, the wait ends
// and the dialog (if any) is cancelled, so that the test fails instead of hanging.
void WhenTheDialogIsUp(const std::function<void(QFileDialog&)>& user) {
    QTimer::singleShot(0, [user] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no save dialog is shown";
        user(*dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog is still open";
            dialog->reject();
        }
    });
}

void Type(QFileDialog& dialog, const QString& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    // As pressing Save.
    QMetaObject::invokeMethod(&dialog, "accept");
}

TEST(TSaveDialog, TheRealDialogCompletesTheNameRefusesAMissingFolderAndNeverAsksToReplace) {
    QTemporaryDir folder;
    const std::string root = folder.path().toStdString() + "/";
    TSaveDialog save;
    save.setTitle("Choose a Name:");
    save.setDefaultExt("EXE");
    save.setFilter({"Executable Files (*.EXE *.exe)", "All Files (*)"});
    save.setPathMustExist(true);
    RecordedMessageBoxes boxes;

    WhenTheDialogIsUp([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Choose a Name:"));
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters(),
                  (QStringList{QStringLiteral("Executable Files (*.EXE *.exe)"),
                               QStringLiteral("All Files (*)")}));
        Type(dialog, folder.filePath(QStringLiteral("missing/setup")));
        EXPECT_TRUE(dialog.isVisible()) << "closed on a folder that does not exist";
        Type(dialog, folder.filePath(QStringLiteral("setup")));
    });
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), root + "setup.EXE");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, "Choose a Name:");
    EXPECT_NE(boxes.Boxes()[0].text.find(root + "missing/setup.EXE"), std::string::npos);

    // An existing file is chosen without a question; an extension of its own stays.
    QFile existing(folder.filePath(QStringLiteral("old.bin")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    WhenTheDialogIsUp([&](QFileDialog& dialog) { Type(dialog, existing.fileName()); });
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), root + "old.bin");
    EXPECT_EQ(boxes.Boxes().size(), 1u);

    WhenTheDialogIsUp([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName(), root + "old.bin") << "cancelling changes nothing";
}

} // namespace
} // namespace kp::test
