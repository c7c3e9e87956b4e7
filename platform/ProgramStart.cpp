#include "platform/ProgramStart.h"

#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>
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

// Runs `argv` in a process of its own session that nobody waits for; errno of a
// failed exec, or 0.
int spawnDetached(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& argument : argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    pid_t child = ::fork();
    if (child < 0) {
        int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (child == 0) {
        // The middle process ends at once, so the program is nobody's child to reap.
        ::setsid();
        if (::fork() != 0) {
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
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

} // namespace

std::uint32_t startProgram(const std::string& commandLine, int /*showMode*/) {
    std::string program;
    std::vector<std::string> arguments;
    if (!splitCommandLine(commandLine, program, arguments)) {
        std::string::size_type slash = program.find_last_of(kPathSeparator);
        std::uint32_t folder = slash == std::string::npos || slash == 0
                                   ? kAttrDirectory
                                   : fileAttributes(program.substr(0, slash));
        bool folderMissing = folder == kInvalidFileAttributes || !(folder & kAttrDirectory);
        return fail(folderMissing ? kErrorPathNotFound : kErrorFileNotFound);
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
    int error = spawnDetached(argv);
    if (error != 0) {
        return fail(error == ENOENT ? kErrorFileNotFound : kErrorBadFormat);
    }
    setLastError(kErrorSuccess);
    return kStarted;
}

} // namespace kp::platform
