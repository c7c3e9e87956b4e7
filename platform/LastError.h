// Last-error codes with Windows' numbers, so that every caller above this layer
// reports the same codes and texts on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace kp::platform {

enum : std::uint32_t {
    kErrorSuccess = 0,
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorBadFormat = 11,
    kErrorWriteProtect = 19,
    kErrorWriteFault = 29,
    kErrorReadFault = 30,
    kErrorGenFailure = 31,
    kErrorSharingViolation = 32,
    kErrorNotSupported = 50,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorCallNotImplemented = 120,
    kErrorInvalidName = 123,
    kErrorNegativeSeek = 131,
    kErrorBadExeFormat = 193,
    kErrorFilenameTooLong = 206,
    kErrorDirectory = 267, // the directory name is invalid: not (or no longer) a folder
    kErrorFileTooLarge = 223,
    kErrorNoUnicodeTranslation = 1113,
    kErrorCancelled = 1223,
    kErrorCantResolveFilename = 1921,
};

// The calling thread's last error, as the most recent failing call of this layer left it.
std::uint32_t lastError();
void setLastError(std::uint32_t code);

// The Windows code for an errno value; `writing` tells an I/O error on writing
// from one on reading.
std::uint32_t errorFromErrno(int errnoValue, bool writing = false);

// The code for a failure to reach a folder: a folder that does not exist is "path not
// found", as Windows reports it, where errno alone would say "file not found".
std::uint32_t folderErrorFromErrno(int errnoValue);

// Sets the last error from errno and returns false, for one-line failure paths.
bool failWithErrno(bool writing = false);

// The system's message for a code, as Windows words it.
std::string systemErrorMessage(std::uint32_t code);

// "system error N: message", the form every message to a user quotes a code in.
std::string systemErrorText(std::uint32_t code);

} // namespace kp::platform
