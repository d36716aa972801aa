#pragma once

#include "platform/com/types.h"

namespace quil::filters {

// Maps a failed system call's errno onto the HRESULT the program shows; a full disk (or a
// file-size limit) is HRESULT_FROM_WIN32(ERROR_DISK_FULL).
HRESULT HresultFromErrno(int error);

}  // namespace quil::filters
