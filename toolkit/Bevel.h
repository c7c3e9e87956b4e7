#pragma once

#include <QWidget>

namespace kp {

enum TBevelShape { bsBox, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine };
enum TBevelStyle { bsLowered, bsRaised };

// An etched line or frame that separates parts of a window. A lowered line is a dark
// line with a light one below or right of it; a raised one is the reverse.
class TBevel : public QWidget {
    Q_OBJECT

public:
    explicit TBevel(QWidget* parent = nullptr);

    TBevelShape Shape() const { return shape_; }
    void setShape(TBevelShape value);
    TBevelStyle Style() const { return style_; }
    void setStyle(TBevelStyle value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevelShape shape_ = bsBox;
    TBevelStyle style_ = bsLowered;
};

} // namespace kp
