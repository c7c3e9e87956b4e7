#include "engine/CabBinding.h"

namespace kp {

std::string CabErrorText(const ERF& Error) {
    switch (Error.erfOper) {
    case FCIERR_NONE:
        return "No error";
    case FCIERR_OPEN_SRC:
        return "Failure opening file to be stored in cabinet";
    case FCIERR_READ_SRC:
        return "Failure reading file to be stored in cabinet";
    case FCIERR_ALLOC_FAIL:
        return "Out of memory during compression";
    case FCIERR_TEMP_FILE:
        return "Could not create a temporary file";
    case FCIERR_BAD_COMPR_TYPE:
        return "Unknown compression type";
    case FCIERR_CAB_FILE:
        return "Could not create cabinet file";
    case FCIERR_USER_ABORT:
        return "User abort";
    case FCIERR_MCI_FAIL:
        return "Failure compressing data";
    case FCIERR_CAB_FORMAT_LIMIT:
        return "Cabinet format limit exceeded (a stored name of 256 bytes or more, over 65535 "
               "files or folders in one cabinet, over 65535 cabinets in a set, over 2 GB in a "
               "folder or cabinet, or a cabinet size too small to hold its headers)";
    default:
        return "Unknown error!";
    }
}

} // namespace kp
