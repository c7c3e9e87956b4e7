#include "kurllabel.h"

#include "ScreenCursors.h"
#include "ShellOpen.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

namespace kp::test {

namespace {

// Captures the label's open requests so nothing is really opened.
class kurllabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousOpener = SetShellOpener([this](const QString& target) {
            events << u"open "_qs + target;
            return true;
        });
        label.setText(u"www.korvath.example"_qs);
        label.resize(200, 20);
        label.OnClick = [this](QObject* sender) {
            EXPECT_EQ(sender, &label);
            events << u"click"_qs;
        };
        label.show();
    }
    void TearDown() override { SetShellOpener(std::move(previousOpener)); }

    QColor TextColor() const { return label.palette().color(QPalette::WindowText); }

    TKUrlLabel label;
    QStringList events;
    ShellOpener previousOpener;
};

} // namespace

TEST_F(kurllabelTest, LooksLikeALink) {
    EXPECT_EQ(label.ActiveColor(), 0x800080u);
    EXPECT_EQ(TextColor(), QColor(0, 0, 255));
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(label.cursor().hotSpot(), QPoint(5, 0));
}

TEST_F(kurllabelTest, HandPointerIsTheDrawnImageRegisteredAsCursorFive) {
    const QImage image = ScreenCursor(kUrlLabelCursor).pixmap().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixelColor(5, 0), QColor(Qt::black)) << "the fingertip is the hot spot";
    EXPECT_EQ(image.pixelColor(5, 1), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(31, 31).alpha(), 0);

    SetScreenCursor(kUrlLabelCursor, QCursor(Qt::CrossCursor));
    TKUrlLabel another;
    EXPECT_EQ(ScreenCursor(kUrlLabelCursor).shape(), Qt::BitmapCursor)
        << "each new label registers its pointer again";
    EXPECT_EQ(another.cursor().hotSpot(), QPoint(5, 0));
}

TEST_F(kurllabelTest, ActiveColorOnlyWhileTheLeftButtonIsDown) {
    label.setActiveColor(0x00FF00);
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(TextColor(), QColor(0, 255, 0));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(TextColor(), QColor(0, 0, 255));

    events.clear();
    QTest::mousePress(&label, Qt::MiddleButton, {}, QPoint(5, 5));
    EXPECT_EQ(TextColor(), QColor(0, 0, 255));
    QTest::mouseRelease(&label, Qt::MiddleButton, {}, QPoint(5, 5));
    EXPECT_TRUE(events.isEmpty()) << events.join(u", ").toStdString();
}

TEST_F(kurllabelTest, ClickReportsItselfThenOpensTheChosenTarget) {
    struct Case {
        const char* url;
        const char* caption;
        QStringList expected;
    } cases[] = {
        {"", "www.korvath.example", {u"click"_qs, u"open www.korvath.example"_qs}},
        {"  \t", "pellix@korvath.example", {u"click"_qs, u"open pellix@korvath.example"_qs}},
        {"mailto:pellix@korvath.example",
         "pellix@korvath.example",
         {u"click"_qs, u"open mailto:pellix@korvath.example"_qs}},
        {" http://korvath.example/update ",
         "Get New Version Here",
         {u"click"_qs, u"open  http://korvath.example/update "_qs}},
        {"", "   ", {u"click"_qs}},
        {" ", "", {u"click"_qs}},
    };
    for (const Case& c : cases) {
        events.clear();
        label.setURL(c.url);
        label.setText(QString::fromUtf8(c.caption));
        QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(events, c.expected) << "URL '" << c.url << "', caption '" << c.caption << "'";
    }
}

TEST_F(kurllabelTest, ReleasingOutsideTheLabelIsNoClick) {
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(500, 5));
    EXPECT_TRUE(events.isEmpty()) << events.join(u", ").toStdString();
    EXPECT_EQ(TextColor(), QColor(0, 0, 255)) << "the colour comes back all the same";
}

TEST_F(kurllabelTest, RightButtonShowsTheCopyMenuAndNothingElse) {
    QTest::mousePress(&label, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(TextColor(), QColor(0, 0, 255));
    QTest::mouseRelease(&label, Qt::RightButton, {}, QPoint(5, 5));
    QContextMenuEvent menuRequest(QContextMenuEvent::Mouse, QPoint(5, 5),
                                  label.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&label, &menuRequest);

    EXPECT_TRUE(events.isEmpty()) << events.join(u", ").toStdString();
    ASSERT_NE(label.PopupMenu(), nullptr);
    EXPECT_TRUE(label.PopupMenu()->isVisible());
    ASSERT_EQ(label.PopupMenu()->actions().size(), 1);
    EXPECT_EQ(label.PopupMenu()->actions().front()->text(), u"Copy"_qs);
    label.PopupMenu()->close();
}

TEST_F(kurllabelTest, CopyPutsTheCaptionNotTheUrlOnTheClipboard) {
    label.setText(u"pellix@korvath.example"_qs);
    label.setURL("mailto:pellix@korvath.example");
    QApplication::clipboard()->setText(u"something else"_qs);
    auto* copy = label.findChild<QAction*>(u"CopyItem"_qs);
    ASSERT_NE(copy, nullptr);
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), u"pellix@korvath.example"_qs);
    EXPECT_TRUE(events.isEmpty());
}

} // namespace kp::test
