#include "FileDrop.h"

#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace kp::test {

namespace {

using Paths = std::vector<std::string>;

struct DragOutcome {
    bool entered = false;
    bool dropped = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// What the window system sends while the user drags over a widget and lets go.
DragOutcome DragOnto(QWidget& target, const QList<QUrl>& urls,
                     Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMimeData data;
    data.setUrls(urls);
    // File managers add the names as text, which an edit box would take.
    QStringList names;
    for (const QUrl& url : urls) {
        names << url.toString();
    }
    data.setText(names.join(u'\n'));
    DragOutcome outcome;
    QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(&target, &enter);
    outcome.entered = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), actions, &data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(&target, &drop);
    outcome.dropped = drop.isAccepted();
    outcome.action = drop.dropAction();
    return outcome;
}

QUrl File(const char* path) {
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

class FileDropTest : public ::testing::Test {
protected:
    void SetUp() override {
        drop = std::make_unique<TFileDrop>();
        drop->OnDrop = [this](QObject* sender) {
            EXPECT_EQ(sender, drop.get());
            delivered.push_back(drop->Files());
        };
    }

    QWidget first;
    QWidget second;
    std::unique_ptr<TFileDrop> drop;
    std::vector<Paths> delivered;
};

} // namespace

TEST_F(FileDropTest, StartsEmptyAndDetached) {
    EXPECT_TRUE(drop->Files().empty());
    EXPECT_EQ(drop->FileCount(), 0);
    EXPECT_EQ(drop->DropControl(), nullptr);
    EXPECT_FALSE(drop->EnableDrop());
    drop->setEnableDrop(true);
    EXPECT_TRUE(drop->EnableDrop()) << "without a control only the flag changes";
}

TEST_F(FileDropTest, AttachingEnablesDropsEvenIfTheyWereOff) {
    drop->setEnableDrop(false);
    drop->setDropControl(&first);
    EXPECT_EQ(drop->DropControl(), &first);
    EXPECT_TRUE(drop->EnableDrop());
    EXPECT_TRUE(first.acceptDrops());
}

TEST_F(FileDropTest, DeliversAbsolutePathsInTheDragsOrder) {
    drop->setDropControl(&first);
    const std::string longName = "/tmp/" + std::string(200, 'n') + "/file.txt";
    const DragOutcome outcome =
        DragOnto(first, {File("/tmp/b.txt"), File("/tmp/a folder/"), File(longName.c_str()),
                         QUrl(u"https://korvath.example/x"_qs), File("/tmp/b.txt")});
    EXPECT_TRUE(outcome.entered);
    EXPECT_TRUE(outcome.dropped);
    const Paths expected{"/tmp/b.txt", "/tmp/a folder", longName, "/tmp/b.txt"};
    EXPECT_EQ(drop->Files(), expected) << "web addresses are no files; folders lose the slash";
    EXPECT_EQ(drop->FileCount(), 4);
    EXPECT_EQ(delivered, std::vector<Paths>{expected}) << "OnDrop sees the finished list";
}

TEST_F(FileDropTest, NeverAnswersMoveSoTheSourceKeepsItsFiles) {
    drop->setDropControl(&first);
    EXPECT_EQ(DragOnto(first, {File("/tmp/a")}).action, Qt::CopyAction);
    QMimeData data;
    const Qt::DropActions copyOrMove = Qt::CopyAction | Qt::MoveAction;
    ASSERT_EQ(QDropEvent(QPointF(), copyOrMove, &data, Qt::LeftButton, Qt::ShiftModifier)
                  .proposedAction(),
              Qt::MoveAction)
        << "Shift proposes a move";
    EXPECT_EQ(DragOnto(first, {File("/tmp/a")}, copyOrMove, Qt::ShiftModifier).action,
              Qt::CopyAction);
    EXPECT_EQ(DragOnto(first, {File("/tmp/a")}, Qt::MoveAction | Qt::LinkAction).action,
              Qt::LinkAction);
    const DragOutcome moveOnly = DragOnto(first, {File("/tmp/a")}, Qt::MoveAction);
    EXPECT_FALSE(moveOnly.entered);
    EXPECT_FALSE(moveOnly.dropped);
    EXPECT_EQ(delivered.size(), 3u);
}

TEST_F(FileDropTest, RefusesWhileDisabledAndDragsWithoutFiles) {
    drop->setDropControl(&first);
    DragOnto(first, {File("/tmp/kept.txt")});
    drop->setEnableDrop(false);
    EXPECT_FALSE(first.acceptDrops());

    const DragOutcome refused = DragOnto(first, {File("/tmp/new.txt")});
    EXPECT_FALSE(refused.entered);
    EXPECT_FALSE(refused.dropped);

    drop->setEnableDrop(true);
    const DragOutcome webOnly = DragOnto(first, {QUrl(u"http://korvath.example/"_qs)});
    EXPECT_FALSE(webOnly.entered);
    EXPECT_FALSE(webOnly.dropped);

    EXPECT_EQ(drop->Files(), Paths{"/tmp/kept.txt"});
    EXPECT_EQ(delivered.size(), 1u);
}

TEST_F(FileDropTest, WhileDisabledAControlKeepsItsOwnDropsButNoFilesArrive) {
    QLineEdit edit; // takes drops of its own, so the drags still reach it
    ASSERT_TRUE(edit.acceptDrops());
    drop->setDropControl(&edit);
    drop->setEnableDrop(false);
    EXPECT_TRUE(edit.acceptDrops());
    DragOnto(edit, {File("/tmp/new.txt")});
    EXPECT_TRUE(drop->Files().empty());
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FileDropTest, ASecondDropReplacesTheFirst) {
    drop->setDropControl(&first);
    DragOnto(first, {File("/tmp/1"), File("/tmp/2"), File("/tmp/3")});
    DragOnto(first, {File("/tmp/4")});
    EXPECT_EQ(drop->Files(), Paths{"/tmp/4"});
    EXPECT_EQ(drop->FileCount(), 1);
}

TEST_F(FileDropTest, RetargetingLeavesTheFirstControlAsItWas) {
    QLineEdit edit; // takes text drops of its own
    const bool editTookDrops = edit.acceptDrops();
    drop->setDropControl(&edit);
    drop->setDropControl(&second);

    EXPECT_EQ(edit.acceptDrops(), editTookDrops);
    EXPECT_FALSE(first.acceptDrops());
    DragOnto(edit, {File("/tmp/on-edit")});
    EXPECT_TRUE(delivered.empty()) << "the first control is no longer hooked";

    EXPECT_TRUE(second.acceptDrops());
    EXPECT_TRUE(DragOnto(second, {File("/tmp/on-second")}).dropped);
    EXPECT_EQ(drop->Files(), Paths{"/tmp/on-second"});
}

TEST_F(FileDropTest, SettingTheSameControlLeavesEnableDropAlone) {
    drop->setDropControl(&first);
    drop->setEnableDrop(false);
    drop->setDropControl(&first);
    EXPECT_FALSE(drop->EnableDrop());
    EXPECT_FALSE(DragOnto(first, {File("/tmp/x")}).dropped);
}

TEST_F(FileDropTest, DetachingDisablesAndUnhooks) {
    drop->setDropControl(&first);
    drop->setDropControl(nullptr);
    EXPECT_EQ(drop->DropControl(), nullptr);
    EXPECT_FALSE(drop->EnableDrop());
    EXPECT_FALSE(first.acceptDrops());
    EXPECT_FALSE(DragOnto(first, {File("/tmp/x")}).dropped);
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FileDropTest, DestroyingTheComponentUnhooksTheControl) {
    drop->setDropControl(&first);
    drop.reset();
    EXPECT_FALSE(first.acceptDrops());
    EXPECT_FALSE(DragOnto(first, {File("/tmp/x")}).dropped);
}

TEST_F(FileDropTest, AControlDestroyedFirstLeavesNoDanglingHook) {
    auto doomed = std::make_unique<QWidget>();
    drop->setDropControl(doomed.get());
    doomed.reset();
    EXPECT_EQ(drop->DropControl(), nullptr);
    EXPECT_FALSE(drop->EnableDrop());
    drop->setDropControl(&second);
    EXPECT_TRUE(DragOnto(second, {File("/tmp/y")}).dropped);
    drop.reset();
}

TEST_F(FileDropTest, ADropOnAControlInsideGoesToTheTargetNotIntoTheControl) {
    QLineEdit* edit = new QLineEdit(&first); // an edit box would take the names as text
    QWidget* nested = new QWidget(new QWidget(&first));
    nested->setAcceptDrops(true);
    drop->setDropControl(&first);
    EXPECT_TRUE(DragOnto(*edit, {File("/tmp/on-edit")}).dropped);
    EXPECT_TRUE(DragOnto(*nested, {File("/tmp/deeper")}).dropped);
    EXPECT_EQ(delivered, (std::vector<Paths>{{"/tmp/on-edit"}, {"/tmp/deeper"}}));
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_FALSE(DragOnto(second, {File("/tmp/elsewhere")}).dropped) << "outside the target";
}

} // namespace kp::test
