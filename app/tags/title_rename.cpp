#include "app/tags/title_rename.h"

#include <fcntl.h>
#include <linux/limits.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace quil::tags {

namespace {

bool Refused(unsigned char c) {
    // What Linux, FAT, NTFS and exFAT all accept in a name: no controls, no separators and none
    // of the characters Windows reserves.
    if (c < 0x20 || c == 0x7F) return true;
    switch (c) {
        case '/':
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return true;
        default:
            return false;
    }
}

// The length of `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
size_t CutOnCharacter(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text.size();
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace

std::string FileNameForTitle(std::string_view title, std::string_view extension) {
    std::string stem;
    stem.reserve(title.size());
    for (char c : title) stem += Refused(static_cast<unsigned char>(c)) ? '_' : c;
    if (stem.empty() || stem == "." || stem == "..") return {};
    const size_t room = NAME_MAX > extension.size() ? NAME_MAX - extension.size() : 0;
    stem.resize(CutOnCharacter(stem, room));
    if (stem.empty() || stem == "." || stem == "..") return {};
    return stem + std::string(extension);
}

RenameResult RenameToTitle(const std::string& path, std::string_view title, std::string* newPath) {
    if (title.empty()) return RenameResult::kEmptyTitle;
    const std::filesystem::path current(path);
    const std::string name = FileNameForTitle(title, current.extension().string());
    if (name.empty()) return RenameResult::kInvalidName;
    const std::filesystem::path target = current.parent_path() / name;
    if (target == current) {
        *newPath = path;
        return RenameResult::kRenamed;
    }
    // A no-replace rename moves no data; where the file system cannot do it, a hard link
    // refuses an existing name just as well.
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        *newPath = target.string();
        return RenameResult::kRenamed;
    }
    if (errno == EEXIST) return RenameResult::kExists;
    if (errno != EINVAL && errno != ENOSYS) return RenameResult::kFailed;
    if (link(path.c_str(), target.c_str()) != 0)
        return errno == EEXIST ? RenameResult::kExists : RenameResult::kFailed;
    if (unlink(path.c_str()) != 0) {
        unlink(target.c_str());
        return RenameResult::kFailed;
    }
    *newPath = target.string();
    return RenameResult::kRenamed;
}

}  // namespace quil::tags
