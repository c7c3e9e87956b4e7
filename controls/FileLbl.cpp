#include "FileLbl.h"

#include "ChangeProperty.h"
#include "StringConvert.h"
#include "platform/Paths.h"

#include <QEvent>
#include <QFontMetrics>

namespace kp {

TFileLabel::TFileLabel(QWidget* parent) : QLabel(parent), separator_(1, platform::kPathSeparator) {
    setWordWrap(false);
    // A path is never markup, and "&" in a file name is a letter, not an accelerator.
    setTextFormat(Qt::PlainText);
}

void TFileLabel::setFileName(const std::string& value) {
    if (ChangeProperty(fileName_, value)) {
        ParseFileName();
        FitCaption();
    }
}

void TFileLabel::setSeparator(const std::string& value) {
    if (ChangeProperty(separator_, value)) {
        ParseFileName();
        FitCaption();
    }
}

void TFileLabel::setDirection(TDirection value) {
    if (ChangeProperty(direction_, value)) {
        FitCaption();
    }
}

std::vector<std::string> TFileLabel::SplitPath(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    for (;;) {
        const std::size_t found = text.find(separator);
        if (found == std::string_view::npos) {
            parts.emplace_back(text);
            return parts;
        }
        parts.emplace_back(text.substr(0, found));
        text.remove_prefix(found + separator.size());
    }
}

void TFileLabel::ParseFileName() {
    pathParts_ = SplitPath(fileName_, separator_);
    const std::string& first = pathParts_.front();
    hasDrive_ = first.size() > 1 && first.back() == ':';
}

bool TFileLabel::event(QEvent* event) {
    const bool handled = QLabel::event(event);
    // The caption follows the width; a move keeps it, but recomputing is cheap and keeps
    // every change of bounds a trigger.
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
        FitCaption();
    }
    return handled;
}

void TFileLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FitCaption();
    }
}

int TFileLabel::TextWidth(const std::string& text) const {
    return QFontMetrics(font()).horizontalAdvance(PathToQString(text));
}

void TFileLabel::FitCaption() {
    setText(PathToQString(ShortenedCaption()));
}

std::string TFileLabel::ShortenedCaption() const {
    const int available = width();
    if (fileName_.empty() || TextWidth(fileName_) <= available) {
        return fileName_;
    }
    const std::string marker = "..." + separator_;
    const std::string& last = pathParts_.back();
    if (TextWidth(marker) + TextWidth(last) >= available) {
        return last;
    }
    int used = TextWidth(last) + TextWidth(marker);
    const std::string drive = hasDrive_ ? pathParts_.front() + separator_ : std::string();
    const std::size_t firstMiddle = hasDrive_ ? 1 : 0;
    if (TextWidth(drive) + used >= available) {
        return marker + last;
    }
    used += TextWidth(drive);
    const std::size_t lastMiddle = pathParts_.size() - 1; // one past the last middle part
    std::string middle;
    if (direction_ == drFromLeft) {
        for (std::size_t i = lastMiddle; i > firstMiddle; --i) {
            std::string candidate = pathParts_[i - 1] + separator_ + middle;
            if (TextWidth(candidate) + used > available) {
                break;
            }
            middle = std::move(candidate);
        }
        return drive + marker + middle + last;
    }
    for (std::size_t i = firstMiddle; i < lastMiddle; ++i) {
        std::string candidate = middle + pathParts_[i] + separator_;
        if (TextWidth(candidate) + used > available) {
            break;
        }
        middle = std::move(candidate);
    }
    return drive + middle + marker + last;
}

} // namespace kp
