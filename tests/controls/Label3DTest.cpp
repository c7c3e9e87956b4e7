#include "Label3D.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace kp::test {

namespace {

const QColor kSurface(255, 255, 255);
const QColor kHighlight(255, 0, 0);
const QColor kShadow(0, 0, 255);
const QColor kFace(0, 0, 0);
const QColor kGreyText(128, 128, 128);

// Aliasing off, so every pixel is one of the colours drawn and the copies can be
// predicted from the face's pixels alone.
std::unique_ptr<TLabel3D> MakeLabel(const QString& caption, TCaptionStyle style) {
    auto label = std::make_unique<TLabel3D>();
    QFont font = label->font();
    font.setPixelSize(20);
    font.setStyleStrategy(QFont::NoAntialias);
    label->setFont(font);
    QPalette colors = label->palette();
    colors.setColor(QPalette::Window, kSurface);
    colors.setColor(QPalette::Light, kHighlight);
    colors.setColor(QPalette::Dark, kShadow);
    colors.setColor(QPalette::WindowText, kFace);
    colors.setColor(QPalette::Disabled, QPalette::WindowText, kGreyText);
    label->setPalette(colors);
    label->setText(caption);
    label->setCaptionStyle(style);
    label->resize(120, 40);
    return label;
}

QImage Render(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What the label should look like: the copies one pixel off the face, in drawing
// order, each painted over what came before.
QImage Expected(const QImage& plainFace, const QColor* rightDown, const QColor* leftUp,
                const QColor& face) {
    QImage expected(plainFace.size(), QImage::Format_RGB32);
    expected.fill(kSurface);
    const auto paintShifted = [&](int dx, int dy, const QColor& color) {
        for (int y = 0; y < plainFace.height(); ++y) {
            for (int x = 0; x < plainFace.width(); ++x) {
                const QPoint to(x + dx, y + dy);
                if (plainFace.pixelColor(x, y) == kFace && expected.rect().contains(to)) {
                    expected.setPixelColor(to, color);
                }
            }
        }
    };
    if (rightDown != nullptr) {
        paintShifted(1, 1, *rightDown);
    }
    if (leftUp != nullptr) {
        paintShifted(-1, -1, *leftUp);
    }
    paintShifted(0, 0, face);
    return expected;
}

int DifferingPixels(const QImage& a, const QImage& b) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return differing;
}

int LowestInkedRow(const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != kSurface) {
                return y;
            }
        }
    }
    return -1;
}

} // namespace

TEST(Label3D, StartsRecessedAt62By16) {
    TLabel3D label;
    EXPECT_EQ(label.CaptionStyle(), csRecessed);
    EXPECT_EQ(label.size(), QSize(62, 16));
}

TEST(Label3D, DrawsCopiesOnePixelOffTheFaceInOrder) {
    auto plain = MakeLabel(u"Kor"_qs, csNone);
    const QImage face = Render(*plain);
    ASSERT_GT(DifferingPixels(face, Expected(face, nullptr, nullptr, kSurface)), 20)
        << "the caption must leave ink to compare";

    struct Case {
        TCaptionStyle style;
        const QColor* rightDown;
        const QColor* leftUp;
    } cases[] = {
        {csNone, nullptr, nullptr},
        {csRaised, nullptr, &kHighlight},
        {csHeavyRaised, &kShadow, &kHighlight},
        {csRecessed, &kHighlight, nullptr},
        {csHeavyRecessed, &kHighlight, &kShadow},
    };
    for (const Case& c : cases) {
        for (const bool enabled : {true, false}) {
            auto label = MakeLabel(u"Kor"_qs, c.style);
            label->setEnabled(enabled);
            const QImage expected =
                Expected(face, c.rightDown, c.leftUp, enabled ? kFace : kGreyText);
            EXPECT_EQ(DifferingPixels(Render(*label), expected), 0)
                << "style " << c.style << (enabled ? " enabled" : " disabled");
        }
    }
}

TEST(Label3D, DisabledFaceIsGreyWithTheApplicationPalette) {
    auto label = MakeLabel(u"Kor"_qs, csNone);
    const QImage face = Render(*label);
    label->setPalette(QApplication::palette());
    label->setEnabled(false);
    const QImage disabled = Render(*label);
    int facePixels = 0;
    for (int y = 0; y < face.height(); ++y) {
        for (int x = 0; x < face.width(); ++x) {
            if (face.pixelColor(x, y) != kFace) {
                continue;
            }
            ++facePixels;
            const QColor c = disabled.pixelColor(x, y);
            ASSERT_TRUE(c.red() == c.green() && c.green() == c.blue()) << c.name().toStdString();
            // About the desktop's #80: dark enough to read against the window.
            ASSERT_GT(c.red(), 0x40);
            ASSERT_LT(c.red(), 0xA8);
        }
    }
    EXPECT_GT(facePixels, 0);
}

TEST(Label3D, AlwaysWrapsWords) {
    auto label = MakeLabel(u"Kor Kor Kor Kor"_qs, csNone);
    label->setWordWrap(false);
    const QImage image = Render(*label);
    EXPECT_GT(LowestInkedRow(image), QFontMetrics(label->font()).height())
        << "the text should continue on a second line";
}

TEST(Label3D, DrawsAtMost255Characters) {
    QString words;
    while (words.size() < TLabel3D::kMaxDrawnCharacters) {
        words += u"ii "_qs;
    }
    words.truncate(TLabel3D::kMaxDrawnCharacters);
    auto cut = MakeLabel(words, csNone);
    auto longer = MakeLabel(words + u"WWWW"_qs, csNone);
    auto oneMore = MakeLabel(words + u"W"_qs, csNone);
    for (TLabel3D* label : {cut.get(), longer.get(), oneMore.get()}) {
        label->resize(400, 400);
    }
    const QImage cutImage = Render(*cut);
    EXPECT_EQ(DifferingPixels(Render(*longer), cutImage), 0);
    EXPECT_EQ(DifferingPixels(Render(*oneMore), cutImage), 0);

    auto fewer = MakeLabel(words.left(TLabel3D::kMaxDrawnCharacters - 1) + u"W"_qs, csNone);
    fewer->resize(400, 400);
    EXPECT_GT(DifferingPixels(Render(*fewer), cutImage), 0) << "the 255th character is drawn";
}

TEST(Label3D, AmpersandMarksTheAcceleratorOnlyWhenAsked) {
    auto accel = MakeLabel(u"&&K"_qs, csNone);
    auto literal = MakeLabel(u"&K"_qs, csNone);
    literal->setShowAccelChar(false);
    EXPECT_EQ(DifferingPixels(Render(*accel), Render(*literal)), 0) << "both draw \"&K\"";

    literal->setShowAccelChar(true);
    auto plain = MakeLabel(u"K"_qs, csNone);
    const int underline = DifferingPixels(Render(*literal), Render(*plain));
    EXPECT_GT(underline, 0) << "the accelerator letter is underlined";
}

TEST(Label3D, AcceleratorFocusesTheFocusControlOnlyWhenShown) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* elsewhere = new QLineEdit;
    auto* label = new TLabel3D;
    auto* target = new QLineEdit;
    layout->addWidget(elsewhere);
    layout->addWidget(label);
    layout->addWidget(target);
    label->setText(u"&Name"_qs);
    label->setFocusControl(target);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    elsewhere->setFocus();
    QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(target->hasFocus());

    label->setShowAccelChar(false);
    elsewhere->setFocus();
    QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(elsewhere->hasFocus()) << "\"&\" drawn as it stands marks no accelerator";
}

TEST(Label3D, TransparentLabelDrawsOnlyItsText) {
    QWidget behind;
    QPalette green = behind.palette();
    green.setColor(QPalette::Window, QColor(0, 160, 0));
    behind.setPalette(green);
    behind.setAutoFillBackground(true);
    behind.resize(120, 40);
    auto label = MakeLabel(u"Kor"_qs, csNone);
    label->setParent(&behind);
    label->move(0, 0);

    EXPECT_EQ(Render(behind).pixelColor(118, 38), kSurface);
    label->setTransparent(true);
    const QImage image = Render(behind);
    EXPECT_EQ(image.pixelColor(118, 38), QColor(0, 160, 0));
    int surfacePixels = 0;
    int facePixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            surfacePixels += image.pixelColor(x, y) == kSurface ? 1 : 0;
            facePixels += image.pixelColor(x, y) == kFace ? 1 : 0;
        }
    }
    EXPECT_EQ(surfacePixels, 0) << "no surface colour is left behind the text";
    EXPECT_GT(facePixels, 0);
    label->setParent(nullptr);
}

namespace {

class CountingLabel3D : public TLabel3D {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        TLabel3D::paintEvent(event);
    }
};

} // namespace

TEST(Label3D, SettingTheSameStyleDoesNotRepaint) {
    CountingLabel3D label;
    label.setText(u"Korvath"_qs);
    label.show();
    QApplication::processEvents();
    const int before = label.paints;
    ASSERT_GT(before, 0);

    label.setCaptionStyle(csRecessed);
    QApplication::processEvents();
    EXPECT_EQ(label.paints, before);

    label.setCaptionStyle(csRaised);
    QApplication::processEvents();
    EXPECT_GT(label.paints, before);
}

} // namespace kp::test
