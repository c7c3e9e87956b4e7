// kcab: packs files into a Microsoft Cabinet file from the command line.
#include "KcabRun.h"

#include <csignal>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kp {
namespace {

std::atomic<bool> interruptRequested{false};

extern "C" void requestInterrupt(int) {
    interruptRequested.store(true);
}

KcabTerminal describeTerminal() {
    KcabTerminal terminal;
    terminal.isTerminal = ::isatty(STDOUT_FILENO) == 1;
    winsize size{};
    if (terminal.isTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        terminal.width = size.ws_col;
    }
    return terminal;
}

} // namespace
} // namespace kp

int main(int argc, char** argv) {
    using namespace kp;
    // The first Ctrl-C (or hang-up, quit, or a reader of the output gone away) stops
    // the run cleanly: temporary files removed, no partial cabinet left, an earlier
    // cabinet untouched. A second signal of the same kind ends the process at once.
    struct sigaction action {};
    action.sa_handler = requestInterrupt;
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        ::sigaction(signal, &action, nullptr);
    }
    // Every further write to a closed pipe raises SIGPIPE again: it must never kill.
    action.sa_flags = 0;
    ::sigaction(SIGPIPE, &action, nullptr);

    std::vector<std::string> arguments(argv + 1, argv + argc);
    return runKcab(arguments, std::cout, std::cerr, describeTerminal(), interruptRequested);
}
