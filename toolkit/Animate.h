// The animation control: plays a clip file (AviClip) in a rectangle of the window,
// from StartFrame to StopFrame, Repetitions times or without end.
#pragma once

#include "AviClip.h"

#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

namespace kp {

class TAnimate : public QWidget {
    Q_OBJECT

public:
    explicit TAnimate(QWidget* parent = nullptr);
    ~TAnimate() override;

    // Opens the clip in the file (the control stops first). A file that is missing,
    // too big or not a clip we play leaves the control closed and blank.
    const std::string& FileName() const { return fileName_; }
    void setFileName(const std::string& value);
    bool Open() const { return clip_ != nullptr; }
    // Why the last clip did not open; empty when it did.
    const std::string& OpenError() const { return openError_; }

    // Playing; only an open clip can be made active.
    bool Active() const { return timer_.isActive(); }
    void setActive(bool value);

    // Frames are numbered from 1. A stop frame of 0, or beyond the clip, is its last.
    int StartFrame() const { return startFrame_; }
    void setStartFrame(int value);
    int StopFrame() const { return stopFrame_; }
    void setStopFrame(int value);
    // How often the frames play before the control stops; 0 plays them without end.
    int Repetitions() const { return repetitions_; }
    void setRepetitions(int value) { repetitions_ = value; }

    // Draw the picture in the middle of the control rather than at its top left.
    bool Center() const { return center_; }
    void setCenter(bool value);
    // Show the window's own background wherever the clip has the colour of the first
    // frame's top left pixel, so the clip seems to have no background of its own.
    bool Transparent() const { return transparent_; }
    void setTransparent(bool value);

    int FrameCount() const;
    int FrameWidth() const;
    int FrameHeight() const;
    // The frame now shown (from 1); 0 when closed.
    int CurrentFrame() const;

    // The picture as painted: the current frame with the transparent colour replaced.
    QImage Picture() const;

    // The largest clip file we read; a real animation is a few kilobytes.
    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Close();
    void NextFrame();
    int FirstFrame() const;
    int LastFrame() const;

    std::string fileName_;
    std::string openError_;
    std::unique_ptr<AviClip> clip_;
    std::unique_ptr<AviCanvas> canvas_;
    AviPixel background_ = 0;
    QTimer timer_;
    int startFrame_ = 1;
    int stopFrame_ = 0;
    int repetitions_ = 0;
    int played_ = 0;
    bool center_ = true;
    bool transparent_ = true;
};

} // namespace kp
