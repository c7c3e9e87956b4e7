#include "platform/LastError.h"

#include <cerrno>

namespace kp::platform {
namespace {
thread_local std::uint32_t threadLastError = kErrorSuccess;
}

std::uint32_t lastError() {
    return threadLastError;
}

void setLastError(std::uint32_t code) {
    threadLastError = code;
}

std::uint32_t errorFromErrno(int errnoValue, bool writing) {
    switch (errnoValue) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
        return kErrorFileNotFound;
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case EBADF:
        return kErrorInvalidHandle;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EROFS:
        return kErrorWriteProtect;
    case EBUSY:
    case ETXTBSY:
        return kErrorSharingViolation;
    case EEXIST:
        return kErrorFileExists;
    case EINVAL:
        return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENOSYS:
    case EOPNOTSUPP:
        return kErrorCallNotImplemented;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    case EFBIG:
    case EOVERFLOW:
        return kErrorFileTooLarge;
    case ELOOP:
        return kErrorCantResolveFilename;
    case EIO:
        return writing ? kErrorWriteFault : kErrorReadFault;
    default:
        return kErrorGenFailure;
    }
}

std::uint32_t folderErrorFromErrno(int errnoValue) {
    std::uint32_t error = errorFromErrno(errnoValue);
    return error == kErrorFileNotFound ? kErrorPathNotFound : error;
}

bool failWithErrno(bool writing) {
    setLastError(errorFromErrno(errno, writing));
    return false;
}

std::string systemErrorMessage(std::uint32_t code) {
    switch (code) {
    case kErrorSuccess:
        return "The operation completed successfully.";
    case kErrorInvalidFunction:
        return "Incorrect function.";
    case kErrorFileNotFound:
        return "The system cannot find the file specified.";
    case kErrorPathNotFound:
        return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles:
        return "The system cannot open the file.";
    case kErrorAccessDenied:
        return "Access is denied.";
    case kErrorInvalidHandle:
        return "The handle is invalid.";
    case kErrorNotEnoughMemory:
        return "Not enough memory resources are available to process this command.";
    case kErrorBadFormat:
        return "An attempt was made to load a program with an incorrect format.";
    case kErrorWriteProtect:
        return "The media is write protected.";
    case kErrorWriteFault:
        return "The system cannot write to the specified device.";
    case kErrorReadFault:
        return "The system cannot read from the specified device.";
    case kErrorGenFailure:
        return "A device attached to the system is not functioning.";
    case kErrorSharingViolation:
        return "The process cannot access the file because it is being used by another process.";
    case kErrorNotSupported:
        return "The request is not supported.";
    case kErrorFileExists:
        return "The file exists.";
    case kErrorInvalidParameter:
        return "The parameter is incorrect.";
    case kErrorDiskFull:
        return "There is not enough space on the disk.";
    case kErrorCallNotImplemented:
        return "This function is not supported on this system.";
    case kErrorInvalidName:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorNegativeSeek:
        return "An attempt was made to move the file pointer before the beginning of the file.";
    case kErrorBadExeFormat:
        return "The file is not a valid Win32 application.";
    case kErrorFilenameTooLong:
        return "The filename or extension is too long.";
    case kErrorDirectory:
        return "The directory name is invalid.";
    case kErrorFileTooLarge:
        return "The file size exceeds the limit allowed and cannot be saved.";
    case kErrorNoUnicodeTranslation:
        return "No mapping for the Unicode character exists in the target multi-byte code page.";
    case kErrorCancelled:
        return "The operation was canceled by the user.";
    case kErrorCantResolveFilename:
        return "The name of the file cannot be resolved by the system.";
    default:
        return "Unknown error " + std::to_string(code) + ".";
    }
}

std::string systemErrorText(std::uint32_t code) {
    return "system error " + std::to_string(code) + ": " + systemErrorMessage(code);
}

} // namespace kp::platform
