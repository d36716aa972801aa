#include "platform/graph/source_file.h"

#include <sys/stat.h>

namespace quil {

HRESULT CheckSourceFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (!S_ISREG(status.st_mode)) return HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE);
    return S_OK;
}

}  // namespace quil
