#pragma once

// Local media files are read only when they are regular files: opening a FIFO or a device
// blocks until someone writes to it, which for a grab means for ever.

#include <string>

#include "platform/com/types.h"

namespace quil {

// S_OK for a regular file (after following links); the file-not-found code when nothing is
// there; HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE) for a FIFO, socket, device or folder.
HRESULT CheckSourceFile(const std::string& path);

}  // namespace quil
