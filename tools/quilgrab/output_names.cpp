#include "tools/quilgrab/output_names.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace quil::grab {

namespace {

std::string SafeField(std::string text) {
    for (char& c : text)
        if (c == '/' || c == '\0') c = '_';
    return text;
}

std::string Strftime(const std::tm& when, const char* format) {
    char text[32];
    size_t length = std::strftime(text, sizeof text, format, &when);
    return std::string(text, length);
}

std::string WithCopyNumber(const std::string& path, int copy) {
    std::filesystem::path whole(path);
    std::string extension = whole.extension().string();
    std::string base = path.substr(0, path.size() - extension.size());
    return base + " (" + std::to_string(copy) + ")" + extension;
}

}  // namespace

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string ExpandNameTemplate(const std::string& nameTemplate, const NameFields& fields) {
    std::string name;
    bool namedExtension = false;
    for (size_t at = 0; at < nameTemplate.size();) {
        size_t open = nameTemplate.find('{', at);
        size_t close = open == std::string::npos ? open : nameTemplate.find('}', open);
        if (close == std::string::npos) {
            name += nameTemplate.substr(at);
            break;
        }
        name += nameTemplate.substr(at, open - at);
        std::string field = nameTemplate.substr(open + 1, close - open - 1);
        if (field == "stem") {
            name += SafeField(fields.stem);
        } else if (field == "track") {
            char number[16];
            std::snprintf(number, sizeof number, "%02d", fields.track);
            if (fields.track > 0) name += number;
        } else if (field == "title") {
            name += SafeField(fields.title);
        } else if (field == "artist") {
            name += SafeField(fields.artist);
        } else if (field == "album") {
            name += SafeField(fields.album);
        } else if (field == "date") {
            name += Strftime(fields.when, "%Y-%m-%d");
        } else if (field == "time") {
            name += Strftime(fields.when, "%H-%M-%S");
        } else if (field == "ext") {
            name += fields.extension;
            namedExtension = true;
        } else {
            name += nameTemplate.substr(open, close - open + 1);
        }
        at = close + 1;
    }
    if (!namedExtension && !fields.extension.empty()) name += "." + fields.extension;
    return name;
}

std::string DefaultTemplate(const OutputOptions& options, const std::string& commandTemplate) {
    return options.storedPrefix + commandTemplate + (options.storedAddDate ? " {date}" : "") +
           options.storedSuffix;
}

std::string WantedOutputPath(const OutputOptions& options, const std::string& commandTemplate,
                             const NameFields& fields) {
    if (!options.file.empty()) return options.file;
    std::string nameTemplate = options.nameTemplate.empty()
                                   ? DefaultTemplate(options, commandTemplate)
                                   : options.nameTemplate;
    std::string name = ExpandNameTemplate(nameTemplate, fields);
    return (std::filesystem::path(options.folder) / name).string();
}

ClaimedOutput ClaimOutput(const std::string& wanted, Clobber clobber) {
    ClaimedOutput claim;
    std::error_code error;
    auto folder = std::filesystem::path(wanted).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error))
        std::filesystem::create_directories(folder, error);
    for (int copy = 1; copy < 10000; ++copy) {
        std::string path = copy == 1 ? wanted : WithCopyNumber(wanted, copy);
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
        if (clobber == Clobber::kOverwrite)
            flags |= O_TRUNC;
        else
            flags |= O_EXCL;
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd >= 0) {
            ::close(fd);
            claim.path = path;
            return claim;
        }
        if (errno != EEXIST) {
            int cause = errno;
            std::string where = folder.empty() ? path : folder.string();
            if (cause == ENOENT || cause == ENOTDIR)
                claim.error = "cannot create " + path + ": the folder " + where + " does not exist";
            else if (cause == EACCES || cause == EPERM || cause == EROFS)
                claim.error = "cannot write into " + where + ": " + std::strerror(cause);
            else
                claim.error = "cannot create " + path + ": " + std::strerror(cause);
            return claim;
        }
        if (clobber == Clobber::kSkip) {
            claim.path = path;
            claim.skipped = true;
            return claim;
        }
    }
    claim.error = "no free name for " + wanted;
    return claim;
}

}  // namespace quil::grab
