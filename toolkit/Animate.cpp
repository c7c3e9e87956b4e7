#include "Animate.h"

#include <QFile>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace kp {
namespace {

// Timers this fast only burn time; this slow, a clip is a still picture.
constexpr int kFastestFrameMs = 10;
constexpr int kSlowestFrameMs = 10'000;

std::vector<std::uint8_t> ReadClipFile(const std::string& fileName, std::string& why) {
    QFile file(QFile::decodeName(fileName.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString().toStdString();
        return {};
    }
    if (file.size() > TAnimate::kMaxFileBytes) {
        why = "file too big for an animation";
        return {};
    }
    const QByteArray bytes = file.read(TAnimate::kMaxFileBytes);
    return {bytes.begin(), bytes.end()};
}

} // namespace

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
    connect(&timer_, &QTimer::timeout, this, [this] { NextFrame(); });
}

TAnimate::~TAnimate() = default;

void TAnimate::setFileName(const std::string& value) {
    Close();
    fileName_ = value;
    std::string why;
    const std::vector<std::uint8_t> bytes = ReadClipFile(value, why);
    std::optional<AviClip> clip = why.empty() ? AviClip::Parse(bytes, &why) : std::nullopt;
    if (!clip) {
        openError_ = why;
        return;
    }
    clip_ = std::make_unique<AviClip>(std::move(*clip));
    canvas_ = std::make_unique<AviCanvas>(*clip_);
    canvas_->ShowFrame(0);
    background_ = canvas_->Pixels().front();
    canvas_->ShowFrame(FirstFrame());
    update();
}

void TAnimate::Close() {
    timer_.stop();
    canvas_.reset();
    clip_.reset();
    openError_.clear();
    update();
}

void TAnimate::setActive(bool value) {
    if (!value || !Open()) {
        timer_.stop();
        return;
    }
    played_ = 0;
    canvas_->ShowFrame(FirstFrame());
    const int ms = static_cast<int>(std::clamp<std::uint32_t>(clip_->MicrosecondsPerFrame() / 1000,
                                                              kFastestFrameMs, kSlowestFrameMs));
    timer_.start(ms);
    update();
}

void TAnimate::setStartFrame(int value) {
    startFrame_ = std::max(1, value);
}

void TAnimate::setStopFrame(int value) {
    stopFrame_ = std::max(0, value);
}

void TAnimate::setCenter(bool value) {
    center_ = value;
    update();
}

void TAnimate::setTransparent(bool value) {
    transparent_ = value;
    update();
}

int TAnimate::FrameCount() const {
    return Open() ? clip_->FrameCount() : 0;
}

int TAnimate::FrameWidth() const {
    return Open() ? clip_->Width() : 0;
}

int TAnimate::FrameHeight() const {
    return Open() ? clip_->Height() : 0;
}

int TAnimate::CurrentFrame() const {
    return Open() ? canvas_->Frame() + 1 : 0;
}

int TAnimate::FirstFrame() const {
    return std::clamp(startFrame_, 1, FrameCount()) - 1;
}

int TAnimate::LastFrame() const {
    const int last = stopFrame_ == 0 ? FrameCount() : std::min(stopFrame_, FrameCount());
    return std::max(last - 1, FirstFrame());
}

void TAnimate::NextFrame() {
    if (canvas_->Frame() < LastFrame()) {
        canvas_->ShowFrame(canvas_->Frame() + 1);
    } else if (repetitions_ > 0 && ++played_ >= repetitions_) {
        timer_.stop();
    } else {
        canvas_->ShowFrame(FirstFrame());
    }
    update();
}

QImage TAnimate::Picture() const {
    if (!Open()) {
        return {};
    }
    QImage picture(clip_->Width(), clip_->Height(), QImage::Format_ARGB32);
    const std::vector<AviPixel>& pixels = canvas_->Pixels();
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const AviPixel pixel = pixels[static_cast<std::size_t>(y * picture.width() + x)];
            line[x] = transparent_ && pixel == background_ ? qRgba(0, 0, 0, 0) : 0xFF000000 | pixel;
        }
    }
    return picture;
}

void TAnimate::paintEvent(QPaintEvent*) {
    if (!Open()) {
        return;
    }
    const QImage picture = Picture();
    QPoint at(0, 0);
    if (center_) {
        at = QPoint((width() - picture.width()) / 2, (height() - picture.height()) / 2);
    }
    QPainter painter(this);
    painter.drawImage(at, picture);
}

} // namespace kp
