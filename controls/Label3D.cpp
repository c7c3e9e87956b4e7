#include "Label3D.h"

#include "ChangeProperty.h"

#include <QPainter>

#include <cstdlib>

namespace kp {

namespace {

// Counts characters, not UTF-16 units, and never splits a surrogate pair.
QString FirstCharacters(const QString& text, int count) {
    qsizetype units = 0;
    for (int taken = 0; taken < count && units < text.size(); ++taken) {
        const bool pair = text[units].isHighSurrogate() && units + 1 < text.size() &&
                          text[units + 1].isLowSurrogate();
        units += pair ? 2 : 1;
    }
    return text.left(units);
}

bool DrawsCopyRightDown(TCaptionStyle style) {
    return style == csHeavyRaised || style == csRecessed || style == csHeavyRecessed;
}

bool DrawsCopyLeftUp(TCaptionStyle style) {
    return style == csRaised || style == csHeavyRaised || style == csHeavyRecessed;
}

} // namespace

TLabel3D::TLabel3D(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    // A label made in code, or placed without a size, starts with room for one line of
    // a short caption in the 8-point font the forms use.
    resize(62, 16);
}

void TLabel3D::setCaptionStyle(TCaptionStyle value) {
    if (ChangeProperty(captionStyle_, value)) {
        update();
    }
}

void TLabel3D::setTransparent(bool value) {
    if (ChangeProperty(transparent_, value)) {
        update();
    }
}

void TLabel3D::setShowAccelChar(bool value) {
    if (ChangeProperty(showAccelChar_, value)) {
        UpdateAccelerator();
        update();
    }
}

void TLabel3D::setFocusControl(QWidget* control) {
    focusControl_ = control;
    UpdateAccelerator();
}

void TLabel3D::UpdateAccelerator() {
    setBuddy(showAccelChar_ ? focusControl_.data() : nullptr);
}

// The desktop draws disabled text in a mid grey (about #80 on a #EF window) that its
// relief turns into embossed lettering. Qt's own disabled text colour is often nearly
// the window's, which would leave a raised caption a faint smudge; such a colour gives
// way to the grey halfway between text and window.
QColor TLabel3D::DisabledFace(const QPalette& colors) {
    const QColor disabled = colors.color(QPalette::Disabled, QPalette::WindowText);
    const QColor text = colors.color(QPalette::Active, QPalette::WindowText);
    const QColor window = colors.color(QPalette::Active, QPalette::Window);
    constexpr int kLeastContrast = 0x50; // of lightness, out of 255
    if (std::abs(disabled.lightness() - window.lightness()) >= kLeastContrast) {
        return disabled;
    }
    return QColor((text.red() + window.red()) / 2, (text.green() + window.green()) / 2,
                  (text.blue() + window.blue()) / 2);
}

void TLabel3D::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    if (!transparent_) {
        painter.fillRect(rect(), palette().color(backgroundRole()));
    }

    const int flags = static_cast<int>(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                      Qt::TextWordWrap | Qt::TextExpandTabs |
                      (showAccelChar_ ? Qt::TextShowMnemonic : 0);
    const QString caption = FirstCharacters(text(), kMaxDrawnCharacters);
    const auto drawAt = [&](int dx, int dy, const QColor& color) {
        painter.setPen(color);
        painter.drawText(area.translated(dx, dy), flags, caption);
    };

    // The relief keeps its colours when the label is disabled; only the face greys.
    const QPalette& colors = palette();
    const QColor highlight = colors.color(QPalette::Active, QPalette::Light);
    const QColor shadow = colors.color(QPalette::Active, QPalette::Dark);
    const bool recessed = captionStyle_ == csRecessed || captionStyle_ == csHeavyRecessed;
    const QColor first = recessed ? highlight : shadow;
    const QColor second = recessed ? shadow : highlight;

    painter.setFont(font());
    if (DrawsCopyRightDown(captionStyle_)) {
        drawAt(1, 1, first);
    }
    if (DrawsCopyLeftUp(captionStyle_)) {
        drawAt(-1, -1, second);
    }
    drawAt(0, 0,
           isEnabled() ? colors.color(QPalette::Active, foregroundRole()) : DisabledFace(colors));
}

} // namespace kp
