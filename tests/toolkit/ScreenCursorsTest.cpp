#include "ScreenCursors.h"

#include <QBitmap>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(ScreenCursors, BuiltInNumbersGiveTheirShapes) {
    EXPECT_EQ(ScreenCursor(crDefault).shape(), Qt::ArrowCursor);
    EXPECT_EQ(ScreenCursor(crHourGlass).shape(), Qt::WaitCursor);
    EXPECT_EQ(ScreenCursor(crIBeam).shape(), Qt::IBeamCursor);
    EXPECT_EQ(ScreenCursor(crHandPoint).shape(), Qt::PointingHandCursor);
}

TEST(ScreenCursors, UnregisteredNumberFallsBackToTheArrow) {
    EXPECT_EQ(ScreenCursor(4711).shape(), Qt::ArrowCursor);
}

TEST(ScreenCursors, RegisteringReplacesTheEntry) {
    QPixmap image(32, 32);
    image.fill(Qt::black);
    SetScreenCursor(77, QCursor(image, 5, 0));
    const QCursor registered = ScreenCursor(77);
    EXPECT_EQ(registered.shape(), Qt::BitmapCursor);
    EXPECT_EQ(registered.hotSpot(), QPoint(5, 0));

    SetScreenCursor(77, QCursor(Qt::CrossCursor));
    EXPECT_EQ(ScreenCursor(77).shape(), Qt::CrossCursor);
}
