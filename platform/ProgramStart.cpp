#include "platform/ProgramStart.h"

#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kp::platform {
namespace {

constexpr std::uint32_t kStarted = 33; // WinExec's results above 31 mean success

std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inQuotes = false;
    bool any = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (any) {
                arguments.push_back(current);
            }
            current.clear();
            any = false;
        } else {
            current.push_back(c);
            any = true;
        }
    }
    if (any) {
        arguments.push_back(current);
    }
    return arguments;
}

bool isWindowsExecutable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    return in.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type colon = folders.find(':', start);
        std::string folder = folders.substr(start, colon - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        struct stat status {};
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            return {};
        }
        start = colon + 1;
    }
}

// The program and its arguments as Windows reads an unquoted or quoted command line.
bool splitCommandLine(const std::string& commandLine, std::string& program,
                      std::vector<std::string>& arguments) {
    std::string line =
        commandLine.substr(std::min(commandLine.find_first_not_of(" \t"), commandLine.size()));
    if (!line.empty() && line[0] == '"') {
        std::string::size_type close = line.find('"', 1);
        program = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        arguments = close == std::string::npos ? std::vector<std::string>()
                                               : splitArguments(line.substr(close + 1));
        return fileExists(program);
    }
    for (std::string::size_type end = line.find(' ');; end = line.find(' ', end + 1)) {
        std::string candidate = line.substr(0, end);
        if (fileExists(candidate)) {
            program = candidate;
            arguments = end == std::string::npos ? std::vector<std::string>()
                                                 : splitArguments(line.substr(end));
            return true;
        }
        if (end == std::string::npos) {
            program = line.substr(0, line.find(' '));
            return false;
        }
    }
}

std::uint32_t fail(std::uint32_t code) {
    setLastError(code);
    return code;
}

// Runs `argv` in a process of its own session; errno of a failed exec, or 0. Without
// a watch the middle process ends at once, so the program is nobody's child to reap;
// with one it waits for the program and writes its exit status into the watch's pipe.
int spawnDetached(const std::vector<std::string>& argv, ProgramWatch* watch) {
    std::vector<char*> pointers;
    for (const std::string& argument : argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    int report[2];
    int ended[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    if (watch != nullptr && ::pipe2(ended, O_CLOEXEC) != 0) {
        int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    pid_t middle = ::fork();
    if (middle < 0) {
        int error = errno;
        for (int fd : {report[0], report[1], ended[0], ended[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return error;
    }
    if (middle == 0) {
        ::setsid();
        pid_t program = ::fork();
        if (program != 0) {
            if (program < 0 || watch == nullptr) {
                ::_exit(0);
            }
            ::close(report[1]); // the parent's read ends when the program has started
            int status = 0;
            while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
            }
            int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            ::signal(SIGPIPE, SIG_IGN);
            (void)!::write(ended[1], &code, sizeof code);
            ::_exit(0);
        }
        int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDIN_FILENO);
        }
        ::execv(pointers[0], pointers.data());
        int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    if (watch == nullptr) {
        int status = 0;
        while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        ::close(ended[1]);
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    error = got == static_cast<ssize_t>(sizeof error) ? error : 0;
    if (watch != nullptr && error != 0) {
        ::close(ended[0]); // nothing to follow: the middle process ends at once
        int status = 0;
        while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
    } else if (watch != nullptr) {
        ::fcntl(ended[0], F_SETFL, O_NONBLOCK);
        watch->Watch(middle, ended[0]);
    }
    return error;
}

} // namespace

ProgramWatch::~ProgramWatch() {
    if (pipe_ >= 0) {
        ::close(pipe_); // the watcher, still waiting, ends unreaped with the program
    }
}

void ProgramWatch::Watch(int watcher, int pipe) {
    watcher_ = watcher;
    pipe_ = pipe;
}

bool ProgramWatch::Ended(int& exitCode) {
    if (pipe_ < 0) {
        return false;
    }
    int code = -1;
    ssize_t got = ::read(pipe_, &code, sizeof code);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return false;
    }
    ::close(pipe_);
    pipe_ = -1;
    int status = 0;
    while (::waitpid(watcher_, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode = got == static_cast<ssize_t>(sizeof code) ? code : -1;
    return true;
}

std::uint32_t startProgram(const std::string& commandLine, int showMode) {
    return startProgram(commandLine, showMode, nullptr);
}

std::uint32_t startProgram(const std::string& commandLine, int /*showMode*/, ProgramWatch* watch) {
    std::string program;
    std::vector<std::string> arguments;
    if (!splitCommandLine(commandLine, program, arguments)) {
        return fail(notFoundError(program));
    }
    std::vector<std::string> argv;
    std::string wine = isWindowsExecutable(program) ? findOnPath("wine") : std::string();
    if (!wine.empty()) {
        argv = {wine, program};
    } else if (!isWindowsExecutable(program) && ::access(program.c_str(), X_OK) == 0) {
        argv = {program};
    } else {
        std::string opener = findOnPath("xdg-open");
        if (opener.empty()) {
            return fail(kErrorBadFormat);
        }
        argv = {opener, program};
        arguments.clear(); // an opener takes one file
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int error = spawnDetached(argv, watch);
    if (error != 0) {
        return fail(error == ENOENT ? kErrorFileNotFound : kErrorBadFormat);
    }
    setLastError(kErrorSuccess);
    return kStarted;
}

} // namespace kp::platform
