#include "kurllabel.h"

#include "HandCursor.h"
#include "ScreenCursors.h"
#include "ShellOpen.h"
#include "StringConvert.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>

namespace kp {

namespace {

constexpr TColor kLinkBlue = 0xFF0000;

} // namespace

TKUrlLabel::TKUrlLabel(QWidget* parent) : QLabel(parent) {
    // Every hyperlink label registers the pointer again, so all of them show the same one.
    SetScreenCursor(kUrlLabelCursor, LoadHandCursor());
    setCursor(ScreenCursor(kUrlLabelCursor));

    setTextFormat(Qt::PlainText);
    SetFontColor(ColorFromTColor(kLinkBlue));
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);

    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(QStringLiteral("PopupMenu"));
    QAction* copy = popupMenu_->addAction(QStringLiteral("Copy"));
    copy->setObjectName(QStringLiteral("CopyItem"));
    connect(copy, &QAction::triggered, this, [this] { CopyClick(); });
}

QColor TKUrlLabel::FontColor() const {
    return palette().color(QPalette::WindowText);
}

void TKUrlLabel::SetFontColor(const QColor& color) {
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

void TKUrlLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        savedColor_ = FontColor();
        SetFontColor(ColorFromTColor(activeColor_));
        leftButtonDown_ = true;
    }
    QLabel::mousePressEvent(event);
}

void TKUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = event->button() == Qt::LeftButton && leftButtonDown_ &&
                         rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && leftButtonDown_) {
        leftButtonDown_ = false;
        SetFontColor(savedColor_);
    }
    QLabel::mouseReleaseEvent(event);
    if (clicked) {
        DoClick();
    }
}

void TKUrlLabel::DoClick() {
    if (OnClick) {
        OnClick(this);
    }
    OpenTarget();
}

void TKUrlLabel::OpenTarget() {
    const QString url = ToQString(url_);
    const QString target = TrimBlanks(url).isEmpty() ? text() : url;
    if (TrimBlanks(target).isEmpty()) {
        return;
    }
    ShellOpen(target);
}

void TKUrlLabel::CopyClick() {
    QGuiApplication::clipboard()->setText(text());
}

void TKUrlLabel::contextMenuEvent(QContextMenuEvent* event) {
    popupMenu_->popup(event->globalPos());
    event->accept();
}

} // namespace kp
