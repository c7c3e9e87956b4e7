#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kp {

enum class MessageIcon { None, Information, Warning, Error, Question };

enum class MessageButtons { OK, YesNo };

// Windows' IDOK, IDYES and IDNO, so that handlers read like the dialogs they answer.
enum class MessageResult { OK = 1, Yes = 6, No = 7 };

struct MessageBoxRequest {
    std::string text;
    std::string title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::OK;
    // Lines shown under the text in a scrolling list, for boxes that name many things.
    std::vector<std::string> details;
};

using MessageBoxResponder = std::function<MessageResult(const MessageBoxRequest&)>;

// Shows a modal box owned by the application and waits for the answer. Every box of
// the program goes through here, so a responder can stand in for the user.
MessageResult MessageBox(const std::string& text, const std::string& title, MessageIcon icon,
                         MessageButtons buttons, std::vector<std::string> details = {});

// Installs a responder in place of the real dialog and returns the one it replaces;
// an empty responder brings back the real dialog.
MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder);

// Stands in for the user while it lives: records every box and answers it with the
// next queued answer, or with the box's first button when none is queued.
class RecordedMessageBoxes {
public:
    explicit RecordedMessageBoxes(std::vector<MessageResult> answers = {});
    ~RecordedMessageBoxes();
    RecordedMessageBoxes(const RecordedMessageBoxes&) = delete;
    RecordedMessageBoxes& operator=(const RecordedMessageBoxes&) = delete;

    void QueueAnswer(MessageResult answer);
    const std::vector<MessageBoxRequest>& Boxes() const { return boxes_; }

private:
    MessageResult Respond(const MessageBoxRequest& request);

    std::deque<MessageResult> answers_;
    std::vector<MessageBoxRequest> boxes_;
    MessageBoxResponder previous_;
};

} // namespace kp
