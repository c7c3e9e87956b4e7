#include "TestRunFeedback.h"

#include <QApplication>
#include <QGuiApplication>

namespace kp {

namespace {
constexpr int kPollMilliseconds = 100;
constexpr int kLongestWaitMilliseconds = 60000;
} // namespace

TestRunFeedback::TestRunFeedback(QObject* parent) : QObject(parent) {
    poll_.setInterval(kPollMilliseconds);
    connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
    giveUp_.setSingleShot(true);
    giveUp_.setInterval(kLongestWaitMilliseconds);
    connect(&giveUp_, &QTimer::timeout, this, [this] { Stop(); });
}

TestRunFeedback::~TestRunFeedback() {
    Stop();
}

void TestRunFeedback::Follow(std::unique_ptr<platform::ProgramWatch> watch) {
    Stop();
    watch_ = std::move(watch);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Our window loses the focus when the started program's first window takes it.
    deactivation_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                            [this](Qt::ApplicationState state) {
                                if (state != Qt::ApplicationActive) {
                                    Stop();
                                }
                            });
    poll_.start();
    giveUp_.start();
}

void TestRunFeedback::Poll() {
    int exitCode = 0;
    if (watch_ && watch_->Ended(exitCode)) {
        Stop();
        if ((exitCode > kLastStubExitCode || exitCode < 0) && OnFailed) {
            OnFailed(exitCode);
        }
    }
}

void TestRunFeedback::Stop() {
    if (!watch_) {
        return;
    }
    poll_.stop();
    giveUp_.stop();
    disconnect(deactivation_);
    QApplication::restoreOverrideCursor();
    watch_.reset();
}

} // namespace kp
