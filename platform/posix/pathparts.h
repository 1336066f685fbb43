#pragma once

// A path's folder and last name, as the file system reads them: no folder means ".".

#include <string>

namespace tarnwick::posix {

inline std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

inline std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace tarnwick::posix
