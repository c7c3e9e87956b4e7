#pragma once

#include "Colors.h"

#include <QColor>
#include <QLabel>

#include <functional>
#include <string>

class QMenu;

namespace kp {

// The number under which the hyperlink pointer is registered in the screen cursors.
inline constexpr int kUrlLabelCursor = 5;

// A label that behaves like a hyperlink: blue and underlined, a pointing hand, the
// active colour while the left button is held on it; a click opens URL (or, when URL
// is blank, the caption), and its popup menu copies the caption.
class TKUrlLabel : public QLabel {
    Q_OBJECT

public:
    explicit TKUrlLabel(QWidget* parent = nullptr);

    const std::string& URL() const { return url_; }
    void setURL(const std::string& value) { url_ = value; }

    TColor ActiveColor() const { return activeColor_; }
    void setActiveColor(TColor value) { activeColor_ = value; }

    QMenu* PopupMenu() const { return popupMenu_; }

    // Runs after a left click, once the click itself has been reported.
    std::function<void(QObject* Sender)> OnClick;

    // Puts the caption, not the URL, on the clipboard as plain text.
    void CopyClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OpenTarget();
    void DoClick();
    QColor FontColor() const;
    void SetFontColor(const QColor& color);

    std::string url_;
    TColor activeColor_ = 0x800080;
    QColor savedColor_;
    bool leftButtonDown_ = false;
    QMenu* popupMenu_ = nullptr;
};

} // namespace kp
