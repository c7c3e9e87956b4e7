#include "DesktopKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QRadioButton>
#include <QWidget>

namespace kp {

namespace {

class EnterPressesFocusedButton : public QObject {
public:
    explicit EnterPressesFocusedButton(QWidget& window) : QObject(&window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        auto* button = qobject_cast<QAbstractButton*>(watched);
        // Enter on a radio button or check box would change the choice, not confirm it.
        if (button == nullptr || qobject_cast<QRadioButton*>(button) != nullptr ||
            qobject_cast<QCheckBox*>(button) != nullptr || button->window() != &window_ ||
            !button->isEnabled()) {
            return false;
        }
        button->animateClick();
        return true;
    }

private:
    QWidget& window_;
};

void GiveTabStopToCheckedButton(QWidget* parent) {
    const QList<QRadioButton*> group =
        parent->findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly);
    const bool anyChecked = std::any_of(group.begin(), group.end(), [](QRadioButton* button) {
        return button->autoExclusive() && button->isChecked();
    });
    for (QRadioButton* button : group) {
        if (button->autoExclusive()) {
            button->setFocusPolicy(!anyChecked || button->isChecked() ? Qt::StrongFocus
                                                                      : Qt::ClickFocus);
        }
    }
}

} // namespace

void UseDesktopKeys(QWidget& window) {
    auto* filter = new EnterPressesFocusedButton(window);
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        button->installEventFilter(filter);
    }
    for (QRadioButton* button : window.findChildren<QRadioButton*>()) {
        QWidget* parent = button->parentWidget();
        QObject::connect(button, &QAbstractButton::toggled, parent,
                         [parent] { GiveTabStopToCheckedButton(parent); });
        GiveTabStopToCheckedButton(parent);
    }
}

} // namespace kp
