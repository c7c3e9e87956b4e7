// A sign of life while a program the wizard started gets going: under Wine a first run
// sets up its prefix for many seconds before any window shows, and a click that shows
// nothing looks like one that did nothing.
#pragma once

#include "platform/ProgramStart.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace kp {

class TestRunFeedback : public QObject {
public:
    explicit TestRunFeedback(QObject* parent = nullptr);
    ~TestRunFeedback() override;

    // Shows the busy pointer until a window of another program takes the focus from
    // ours, the program ends, or a minute has passed. A program that ends first with a
    // code its stub never returns (above kLastStubExitCode) failed to run:
    // OnFailed hears the code.
    void Follow(std::unique_ptr<platform::ProgramWatch> watch);
    bool Following() const { return watch_ != nullptr; }

    // The self-extractors' own exit codes are 0 to 4; anything above comes from what
    // runs them (Wine) failing.
    static constexpr int kLastStubExitCode = 4;
    std::function<void(int exitCode)> OnFailed;

private:
    void Poll();
    void Stop();

    std::unique_ptr<platform::ProgramWatch> watch_;
    QTimer poll_;
    QTimer giveUp_;
    QMetaObject::Connection deactivation_;
};

} // namespace kp
