#include "MessageBox.h"

#include "StringConvert.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace kp {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

MessageResult FirstButton(MessageButtons buttons) {
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::OK;
}

MessageResult ShowRealBox(const MessageBoxRequest& request) {
    // Without a GUI application there is nobody to ask; the first button is what
    // pressing Enter on the box would have chosen.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return FirstButton(request.buttons);
    }
    const bool yesNo = request.buttons == MessageButtons::YesNo;
    QMessageBox box(ToQtIcon(request.icon), ToQString(request.title), ToQString(request.text),
                    yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    if (!request.details.empty()) {
        QString lines;
        for (const std::string& line : request.details) {
            lines += ToQString(line) + QLatin1Char('\n');
        }
        box.setDetailedText(lines);
        // The list is what the box is about: shown at once, not behind a button.
        for (QAbstractButton* button : box.buttons()) {
            if (box.buttonRole(button) == QMessageBox::ActionRole) {
                button->click();
            }
        }
    }
    const int answer = box.exec();
    if (!yesNo) {
        return MessageResult::OK;
    }
    return answer == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
}

MessageBoxResponder& CurrentResponder() {
    static MessageBoxResponder responder;
    return responder;
}

} // namespace

MessageResult MessageBox(const std::string& text, const std::string& title, MessageIcon icon,
                         MessageButtons buttons, std::vector<std::string> details) {
    const MessageBoxRequest request{text, title, icon, buttons, std::move(details)};
    if (const MessageBoxResponder& responder = CurrentResponder()) {
        return responder(request);
    }
    return ShowRealBox(request);
}

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder) {
    return std::exchange(CurrentResponder(), std::move(responder));
}

RecordedMessageBoxes::RecordedMessageBoxes(std::vector<MessageResult> answers)
    : answers_(answers.begin(), answers.end()) {
    previous_ = SetMessageBoxResponder(
        [this](const MessageBoxRequest& request) { return Respond(request); });
}

RecordedMessageBoxes::~RecordedMessageBoxes() {
    SetMessageBoxResponder(std::move(previous_));
}

void RecordedMessageBoxes::QueueAnswer(MessageResult answer) {
    answers_.push_back(answer);
}

MessageResult RecordedMessageBoxes::Respond(const MessageBoxRequest& request) {
    boxes_.push_back(request);
    if (answers_.empty()) {
        return FirstButton(request.buttons);
    }
    const MessageResult answer = answers_.front();
    answers_.pop_front();
    return answer;
}

} // namespace kp
