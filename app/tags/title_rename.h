#pragma once

// Renames a file after its title, inside its own folder and never over another file.

#include <string>
#include <string_view>

namespace quil::tags {

// The file name a title gives: path separators, NUL and characters common file systems refuse
// become "_", and the name with its extension is cut to the file system's limit on a character
// boundary. Empty when no usable name remains ("", "." or "..").
std::string FileNameForTitle(std::string_view title, std::string_view extension);

enum class RenameResult { kRenamed, kEmptyTitle, kInvalidName, kExists, kFailed };

// Gives `path` the title as its name, keeping folder and extension. Never replaces an existing
// file; on any failure the original stays as it was. *newPath is set when renamed.
RenameResult RenameToTitle(const std::string& path, std::string_view title, std::string* newPath);

}  // namespace quil::tags
