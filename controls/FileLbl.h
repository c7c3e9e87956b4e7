#pragma once

#include <QLabel>

#include <string>
#include <string_view>
#include <vector>

namespace kp {

enum TDirection { drFromLeft, drFromRight };

// A one-line label showing a path shortened to its width: the file name stays whole,
// "..." stands for the components given up, and Direction says which side of the
// middle gives them up first. The full path stays in FileName.
class TFileLabel : public QLabel {
    Q_OBJECT

public:
    explicit TFileLabel(QWidget* parent = nullptr);

    const std::string& FileName() const { return fileName_; }
    void setFileName(const std::string& value);

    TDirection Direction() const { return direction_; }
    void setDirection(TDirection value);

    const std::string& Separator() const { return separator_; }
    void setSeparator(const std::string& value);

    const std::vector<std::string>& PathParts() const { return pathParts_; }
    bool HasDrive() const { return hasDrive_; }

    // Splits text at every whole occurrence of separator; an empty separator keeps
    // text as one part.
    static std::vector<std::string> SplitPath(std::string_view text, std::string_view separator);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

    // Width in pixels of text drawn in the label's font. Virtual so that a measure
    // with known sums (and kerning) can check which widths are taken apart and which
    // whole.
    virtual int TextWidth(const std::string& text) const;

    // Recomputes the caption from FileName, the width and the font.
    void FitCaption();

private:
    void ParseFileName();
    std::string ShortenedCaption() const;

    std::string fileName_;
    TDirection direction_ = drFromLeft;
    std::string separator_;
    std::vector<std::string> pathParts_;
    bool hasDrive_ = false;
};

} // namespace kp
