#include "Animate.h"
#include "AviWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kp {
namespace {

// Five frames of 4 x 2 pixels, 10 ms each; frame n has the value n + 1 in its last
// pixel, and the corner pixel is the background.
AviMovie FastMovie() {
    AviMovie movie;
    movie.width = 4;
    movie.height = 2;
    movie.microsecondsPerFrame = 10'000;
    movie.palette = {{10, 20, 30}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}, {8, 8, 8}};
    for (std::uint8_t frame = 0; frame < 5; ++frame) {
        movie.frames.push_back({0, 0, 0, 0, 0, 1, 1, static_cast<std::uint8_t>(frame + 1)});
    }
    return movie;
}

QString WriteFile(const QTemporaryDir& folder, const char* name,
                  const std::vector<std::uint8_t>& bytes) {
    QFile file(folder.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.fileName();
}

// Plays until enough has been seen (or a generous time has passed, so that a loaded
// machine cannot fail the test) and returns every frame number shown, in order, each
// change once.
std::vector<int> Watch(const TAnimate& animation,
                       const std::function<bool(const std::vector<int>&)>& enough) {
    std::vector<int> seen;
    QElapsedTimer clock;
    clock.start();
    while (!enough(seen) && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (seen.empty() || seen.back() != animation.CurrentFrame()) {
            seen.push_back(animation.CurrentFrame());
        }
    }
    return seen;
}

bool Blank(TAnimate& animation) {
    const QImage shown = animation.grab().toImage();
    const QRgb corner = shown.pixel(0, 0);
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (shown.pixel(x, y) != corner) {
                return false;
            }
        }
    }
    return true;
}

TEST(TAnimate, LoopsFromTheFirstFrameToTheStopFrame) {
    QTemporaryDir folder;
    TAnimate animation;
    animation.resize(20, 10);
    animation.setStopFrame(3);
    animation.setFileName(WriteFile(folder, "fast.avi", WriteAvi(FastMovie())).toStdString());
    ASSERT_TRUE(animation.Open()) << animation.OpenError();
    EXPECT_EQ(animation.FrameCount(), 5);
    EXPECT_EQ(animation.FrameWidth(), 4);
    EXPECT_EQ(animation.FrameHeight(), 2);
    animation.setActive(true);
    ASSERT_TRUE(animation.Active());

    const std::vector<int> seen =
        Watch(animation, [](const std::vector<int>& seen) { return seen.size() >= 10; });
    ASSERT_GE(seen.size(), 10u);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        const bool next = seen[i] == seen[i - 1] + 1 && seen[i] <= 3;
        const bool again = seen[i - 1] == 3 && seen[i] == 1;
        EXPECT_TRUE(next || again) << seen[i - 1] << " then " << seen[i];
    }
    EXPECT_FALSE(Blank(animation));
}

TEST(TAnimate, StopsAfterItsRepetitions) {
    QTemporaryDir folder;
    TAnimate animation;
    animation.setFileName(WriteFile(folder, "fast.avi", WriteAvi(FastMovie())).toStdString());
    animation.setStartFrame(2);
    animation.setRepetitions(2);
    animation.setActive(true);
    EXPECT_EQ(animation.CurrentFrame(), 2);
    const std::vector<int> seen =
        Watch(animation, [&](const std::vector<int>&) { return !animation.Active(); });
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 4, 5, 2, 3, 4, 5}));
    EXPECT_FALSE(animation.Active());
}

TEST(TAnimate, ShowsTheWindowWhereTheClipHasItsBackgroundColour) {
    QTemporaryDir folder;
    TAnimate animation;
    animation.setFileName(WriteFile(folder, "fast.avi", WriteAvi(FastMovie())).toStdString());
    ASSERT_TRUE(animation.Open());
    EXPECT_EQ(qAlpha(animation.Picture().pixel(0, 0)), 0);
    EXPECT_EQ(animation.Picture().pixel(1, 1), qRgb(255, 0, 0));
    animation.setTransparent(false);
    EXPECT_EQ(animation.Picture().pixel(0, 0), qRgb(10, 20, 30));
}

// Start-up goes on without the clip: the control stays closed, blank and inactive.
TEST(TAnimate, StaysBlankWithoutAPlayableClip) {
    QTemporaryDir folder;
    std::vector<std::uint8_t> cut = WriteAvi(FastMovie());
    cut.resize(100);
    const std::vector<QString> files = {
        folder.filePath(QStringLiteral("missing.avi")),
        WriteFile(folder, "empty.avi", {}),
        WriteFile(folder, "cut.avi", cut),
        WriteFile(folder, "text.avi", {'R', 'I', 'F', 'F', 'h', 'e', 'l', 'l', 'o'}),
        folder.path(),
    };
    for (const QString& file : files) {
        TAnimate animation;
        animation.resize(30, 20);
        animation.setFileName(file.toStdString());
        EXPECT_FALSE(animation.Open()) << file.toStdString();
        EXPECT_FALSE(animation.OpenError().empty()) << file.toStdString();
        animation.setActive(true);
        EXPECT_FALSE(animation.Active());
        EXPECT_EQ(animation.CurrentFrame(), 0);
        EXPECT_TRUE(Blank(animation));
    }
}

TEST(TAnimate, OpeningAnotherClipStopsTheOneBefore) {
    QTemporaryDir folder;
    TAnimate animation;
    animation.setFileName(KP_SOLEFILE_PATH);
    animation.setActive(true);
    ASSERT_TRUE(animation.Active());
    animation.setFileName(folder.filePath(QStringLiteral("missing.avi")).toStdString());
    EXPECT_FALSE(animation.Active());
    EXPECT_FALSE(animation.Open());
}

} // namespace
} // namespace kp
