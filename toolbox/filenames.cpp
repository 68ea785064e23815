#include "toolbox/filenames.h"

#include <cstring>

#include "toolbox/fatal.h"

namespace craq {

std::string extensionOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    const std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return std::string();
    return path.substr(dot);
}

bool isImageEntry(const std::string &name) {
    const std::string ext = extensionOf(name);
    return ext == ".jpg" || ext == ".tif" || ext == ".v";
}

std::string folderPrefix(const std::string &folder) {
    if (folder == ".") return std::string();
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

void cannotOpenFolder(const std::string &folder, int error) {
    fatalExit(Stream::err, "cannot open directory. \n", folder + ": " + std::strerror(error) + "\n");
}

void requireOneLineName(const std::string &path) {
    if (path.find('\n') == std::string::npos) return;
    std::string shown;
    for (const char c : path) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    fatalExit(Stream::out, "cannot store image " + shown + ": its name holds a line break\n");
}

}  // namespace craq
