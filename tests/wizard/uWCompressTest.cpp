#include "uWCompress.h"

#include "MessageBox.h"
#include "ProgramFolder.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace kp {
namespace {

struct PageView {
    int step;
    const char* page;
    const char* heading;
    const char* picture;
    bool back;
    bool next;
    bool drops;
};

// What each page shows, whichever way it was reached.
constexpr std::array<PageView, 8> kPages = {{
    {1, "Welcome", "Welcome to Pellix !", "pFinal", false, true, true},
    {2, "Tree", "Cab Trees", "pAddTree", true, true, true},
    {3, "Folder", "Cab Folders", "pAddFolder", true, true, true},
    {4, "Files", "Cab Files", "pAddFiles", true, true, true},
    {5, "Method", "Compression Settings", "pFinal", true, true, true},
    {6, "Compress", "Now Compressing...", "pFinal", true, true, false},
    {7, "sfx", "Self Extract Creation", "pFinal", true, true, false},
    {8, "Cool", "Cab Complete !", "pFinal", true, false, false},
}};

void ExpectPage(const TcWizard& wizard, int step) {
    const PageView& view = kPages[static_cast<std::size_t>(step - 1)];
    SCOPED_TRACE(view.page);
    EXPECT_EQ(Step, view.step);
    EXPECT_EQ(wizard.Steps->currentWidget()->objectName(), QLatin1String(view.page));
    EXPECT_EQ(wizard.StatusText->text(), QString::fromUtf8(view.heading));
    for (const QLabel* picture :
         {wizard.pAddFiles, wizard.pAddFolder, wizard.pAddTree, wizard.pFinal}) {
        EXPECT_EQ(!picture->isHidden(), picture->objectName() == QLatin1String(view.picture))
            << picture->objectName().toStdString();
    }
    EXPECT_EQ(wizard.wback->isEnabled(), view.back);
    EXPECT_EQ(wizard.wnext->isEnabled(), view.next);
    EXPECT_TRUE(wizard.wcancel->isEnabled());
    EXPECT_EQ(wizard.dd->EnableDrop(), view.drops);
    EXPECT_EQ(wizard.Steps->acceptDrops(), view.drops);
}

TEST(TcWizard, StartsOnTheWelcomePageWithoutArguments) {
    TcWizard wizard;
    ExpectPage(wizard, 1);
    EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Korvath Pellix"));
    EXPECT_TRUE(PendingTrees.empty());
    EXPECT_TRUE(PendingFolders.empty());
    // The clip beside the program plays from the start, though only the Compress page shows it.
    EXPECT_TRUE(wizard.ani->Open()) << wizard.ani->OpenError();
    EXPECT_TRUE(wizard.ani->Active());
    EXPECT_EQ(wizard.ani->StopFrame(), 17);
    EXPECT_EQ(wizard.Timer->interval(), 100);
    EXPECT_TRUE(wizard.Timer->isActive());
}

// Next on the Method page runs the compression, whose "kspool.cab" goes here.
class ScratchProgramFolder {
public:
    ScratchProgramFolder() { SetProgramFolderForTesting(folder.path().toStdString() + "/"); }
    ~ScratchProgramFolder() { SetProgramFolderForTesting(""); }

private:
    QTemporaryDir folder;
};

TEST(TcWizard, BackAndNextWalkEveryPage) {
    ScratchProgramFolder program;
    TcWizard wizard;
    enum Press { Back, Next };
    // From Welcome to sfx and back; Next on Method runs the (empty) selection through
    // the Compress page to sfx, and Back from sfx passes over Compress.
    const std::vector<std::pair<Press, int>> walk = {
        {Next, 2}, {Next, 3}, {Next, 4}, {Next, 5}, {Next, 7}, {Back, 5}, {Next, 7},
        {Back, 5}, {Back, 4}, {Back, 3}, {Back, 2}, {Back, 1}, {Next, 2},
    };
    for (const auto& [press, step] : walk) {
        (press == Next ? wizard.wnext : wizard.wback)->click();
        ExpectPage(wizard, step);
    }
    // The Cool page follows a finished self-extractor; Back from there starts over.
    Step = 8;
    wizard.ShowStep();
    ExpectPage(wizard, 8);
    wizard.wback->click();
    ExpectPage(wizard, 1);
}

// Alt and the underlined letter press Next, Back and Close; none of them is the
// window's default or cancel button.
TEST(TcWizard, UnderlinedLettersPressTheButtons) {
    TcWizard wizard;
    wizard.show();
    QApplication::setActiveWindow(&wizard);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
    // A button pressed by its letter shows itself pressed for a moment first.
    QTest::keyClick(&wizard, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return Step == 2; }));
    QTest::keyClick(&wizard, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return Step == 3; }));
    QTest::keyClick(&wizard, Qt::Key_B, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return Step == 2; }));
    // Enter and Escape in the description press no wizard button.
    Step = 5;
    wizard.ShowStep();
    wizard.cDescribe->setFocus();
    QTest::keyClick(wizard.cDescribe, Qt::Key_Return);
    QTest::keyClick(wizard.cDescribe, Qt::Key_Escape);
    QTest::qWait(300);
    EXPECT_EQ(Step, 5);
    EXPECT_TRUE(wizard.isVisible());
    for (const QPushButton* button : {wizard.wback, wizard.wnext, wizard.wcancel}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    QTimer::singleShot(0, [&] { QTest::keyClick(&wizard, Qt::Key_C, Qt::AltModifier); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
}

// As on the desktop: Enter presses the focused button, and Tab into the method's radio
// group lands on the checked choice, whichever it is.
TEST(TcWizard, EnterPressesTheFocusedButtonAndTabFindsTheCheckedChoice) {
    TcWizard wizard;
    wizard.show();
    QApplication::setActiveWindow(&wizard);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard));
    wizard.wnext->setFocus();
    QTest::keyClick(wizard.wnext, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([] { return Step == 2; }));
    wizard.wback->setFocus();
    QTest::keyClick(wizard.wback, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return Step == 1; }));

    Step = 5;
    wizard.ShowStep();
    for (QRadioButton* checked : {wizard.LZX, wizard.MSZIP}) {
        checked->setChecked(true);
        wizard.Track->setFocus();
        QTest::keyClick(wizard.Track, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), checked) << checked->objectName().toStdString();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), wizard.TrackFolder) << "the group is one stop";
    }
    wizard.MSZIP->setFocus();
    QTest::keyClick(wizard.MSZIP, Qt::Key_Right);
    EXPECT_TRUE(wizard.LZX->isChecked()) << "the arrow keys still move within the group";
}

TEST(TcWizard, MethodPageStartsWithItsSettings) {
    TcWizard wizard;
    EXPECT_TRUE(wizard.LZX->isChecked());
    EXPECT_FALSE(wizard.MSZIP->isChecked());
    EXPECT_EQ(wizard.Track->minimum(), 1);
    EXPECT_EQ(wizard.Track->maximum(), 7);
    EXPECT_EQ(wizard.Track->value(), 4);
    EXPECT_EQ(wizard.TrackFolder->minimum(), 1);
    EXPECT_EQ(wizard.TrackFolder->maximum(), 12);
    EXPECT_EQ(wizard.TrackFolder->value(), 2);
    EXPECT_TRUE(wizard.cDescribe->text().isEmpty());
    EXPECT_EQ(wizard.cab.FolderSize(), 831415);
    EXPECT_EQ(wizard.cab.CompType(), ctMsZip);
    EXPECT_TRUE(wizard.cab.StorePath());
    EXPECT_FALSE(wizard.cab.PartialPath());
}

TEST(TcWizard, NextOnTheSfxPageWantsATarget) {
    ScratchProgramFolder program;
    RecordedMessageBoxes boxes;
    TcWizard wizard;
    Step = 7;
    wizard.ShowStep();
    wizard.wnext->click();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Please specify a valid file name to use!");
    EXPECT_EQ(boxes.Boxes()[0].title, "Target EXE");
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Information);
    EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::OK);
    ExpectPage(wizard, 7);

    // The target is chosen anew every time the page is entered.
    wizard.xName->setFileName("/tmp/chosen.exe");
    wizard.wback->click();
    wizard.wnext->click(); // the run
    ExpectPage(wizard, 7);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(wizard.xName->FileName(), "");
}

TEST(TcWizard, CloseEndsTheProgramOnEveryPage) {
    for (int step = 1; step <= 8; ++step) {
        TcWizard wizard;
        Step = step;
        wizard.ShowStep();
        wizard.show();
        QTimer::singleShot(0, wizard.wcancel, &QPushButton::click);
        // Should Close not end the loop, this ends it with a code the test sees.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << "on page " << step;
    }
}

TEST(TcWizard, WindowHasAFixedSize) {
    TcWizard wizard;
    wizard.show();
    EXPECT_EQ(wizard.size(), QSize(500, 339));
    EXPECT_EQ(wizard.minimumSize(), QSize(500, 339));
    EXPECT_EQ(wizard.maximumSize(), QSize(500, 339));
    wizard.resize(800, 600);
    EXPECT_EQ(wizard.size(), QSize(500, 339));
    EXPECT_TRUE(wizard.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(wizard.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(wizard.font().pointSize(), 8);
}

// The form was laid out for a narrower font than this desktop's: whatever font the
// window gets, every text is whole and no label covers a control beside it.
TEST(TcWizard, EveryTextFitsAndNoLabelCoversAControl) {
    TcWizard wizard;
    for (const QLabel* label : wizard.findChildren<QLabel*>()) {
        if (label->window() != &wizard) {
            continue; // a dialog's, laid out when the dialog opens
        }
        const std::string name = label->objectName().toStdString();
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name;
        } else if (!label->text().isEmpty()) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << name;
        }
        for (const QWidget* control :
             label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control->focusPolicy() != Qt::NoFocus ||
                qobject_cast<const QAbstractButton*>(control)) {
                EXPECT_FALSE(label->geometry().intersects(control->geometry()))
                    << name << " covers " << control->objectName().toStdString();
            }
        }
    }
    for (const QRadioButton* radio : wizard.findChildren<QRadioButton*>()) {
        EXPECT_LE(radio->sizeHint().width(), radio->width()) << radio->objectName().toStdString();
    }
}

// Start-up completes without the clip, or with a clip that cannot be played.
TEST(TcWizard, StartsWithoutAPlayableClip) {
    QTemporaryDir folder;
    for (const char* content : {static_cast<const char*>(nullptr), "RIFF\x10\0\0\0AVI LIST"}) {
        if (content != nullptr) {
            QFile clip(folder.filePath(QStringLiteral("solefile.avi")));
            ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
            clip.write(content, 16);
        }
        SetProgramFolderForTesting(folder.path().toStdString() + "/");
        const auto wizard = std::make_unique<TcWizard>();
        SetProgramFolderForTesting("");
        EXPECT_FALSE(wizard->ani->Open());
        EXPECT_FALSE(wizard->ani->Active());
        ExpectPage(*wizard, 1);
    }
}

} // namespace
} // namespace kp
