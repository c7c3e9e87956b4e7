#include "FormLoading.h"

#include <QFont>
#include <QRegularExpression>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace kp {
namespace {

constexpr int kStretchStep = 3;
// Room a push button leaves around its text, and between its icon and the text.
constexpr int kButtonPadding = 8;
constexpr int kIconSpacing = 4;

bool AutoSized(const QWidget* widget) {
    return widget->property("autoSize").toBool();
}

bool TextFits(const QLabel* label) {
    if (AutoSized(label) || label->text().isEmpty()) {
        return true;
    }
    if (label->wordWrap()) {
        return label->heightForWidth(label->width()) <= label->height();
    }
    return label->sizeHint().width() <= label->width();
}

bool TextFits(const QPushButton* button) {
    if (button->text().isEmpty()) {
        return true;
    }
    // The style's size hint has a minimum width of its own; only the content counts.
    QString text = button->text();
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    int needed = button->fontMetrics().horizontalAdvance(text) + kButtonPadding;
    if (!button->icon().isNull()) {
        needed += button->iconSize().width() + kIconSpacing;
    }
    return needed <= button->width();
}

bool EveryTextFits(const QWidget* form) {
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        if (!TextFits(label)) {
            return false;
        }
    }
    for (const QPushButton* button : form->findChildren<QPushButton*>()) {
        if (!TextFits(button)) {
            return false;
        }
    }
    for (const QRadioButton* radio : form->findChildren<QRadioButton*>()) {
        if (radio->sizeHint().width() > radio->width()) {
            return false;
        }
    }
    return true;
}

} // namespace

void NarrowFormFontToFit(QWidget* form) {
    QFont font = form->font();
    int stretch = QFont::Unstretched;
    while (!EveryTextFits(form) && stretch > kNarrowestStretch) {
        stretch = std::max(kNarrowestStretch, stretch - kStretchStep);
        font.setStretch(stretch);
        form->setFont(font);
    }
    if (stretch == QFont::Unstretched) {
        return;
    }
    // A control with a font family of its own (a heading) was not part of the problem
    // and keeps its width.
    for (QWidget* control : form->findChildren<QWidget*>()) {
        QFont own = control->font();
        if ((own.resolveMask() & QFont::FamiliesResolved) != 0 && own.family() != font.family()) {
            own.setStretch(QFont::Unstretched);
            control->setFont(own);
        }
    }
}

void AdjustAutoSizeLabels(QWidget* form) {
    for (QLabel* label : form->findChildren<QLabel*>()) {
        if (!AutoSized(label)) {
            continue;
        }
        const QSize fitted = label->sizeHint();
        QRect bounds = label->geometry();
        if (label->alignment().testFlag(Qt::AlignRight)) {
            bounds.setLeft(bounds.right() + 1 - fitted.width());
        } else {
            bounds.setWidth(fitted.width());
        }
        bounds.setHeight(fitted.height());
        label->setGeometry(bounds);
    }
}

void SubstituteFormFonts() {
    const QString desktopSans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    QFont::removeSubstitutions(QStringLiteral("MS Sans Serif"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), desktopSans);
}

} // namespace kp
