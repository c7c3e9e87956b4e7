#pragma once

#include <QLabel>
#include <QPointer>

namespace kp {

enum TCaptionStyle { csNone, csRaised, csHeavyRaised, csRecessed, csHeavyRecessed };

// A label whose text has a one-pixel highlight and shadow, so that it looks raised
// above or pressed into the surface. The text always wraps at the label's width.
class TLabel3D : public QLabel {
    Q_OBJECT

public:
    explicit TLabel3D(QWidget* parent = nullptr);

    TCaptionStyle CaptionStyle() const { return captionStyle_; }
    void setCaptionStyle(TCaptionStyle value);

    // A transparent label draws only its text, on whatever lies behind it; otherwise
    // it first fills itself with its background colour.
    bool Transparent() const { return transparent_; }
    void setTransparent(bool value);

    // Whether "&" marks the underlined accelerator letter ("&&" is one "&") or is
    // drawn as it stands.
    bool ShowAccelChar() const { return showAccelChar_; }
    void setShowAccelChar(bool value);

    // The control that the accelerator letter focuses. Use this rather than setBuddy,
    // so that a label showing "&" as it stands takes no accelerator either.
    QWidget* FocusControl() const { return focusControl_; }
    void setFocusControl(QWidget* control);

    // The longest caption drawn, in characters.
    static constexpr int kMaxDrawnCharacters = 255;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QColor DisabledFace(const QPalette& colors);
    void UpdateAccelerator();

    QPointer<QWidget> focusControl_;
    TCaptionStyle captionStyle_ = csRecessed;
    bool transparent_ = false;
    bool showAccelChar_ = true;
};

} // namespace kp
