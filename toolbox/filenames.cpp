#include "toolbox/filenames.h"

#include <dirent.h>

#include <cerrno>
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

// "fv_a.dat", "fvc_b.txt" and "xfv_c.dat" pass; "my_fv_d.dat" (first '_'
// before the first 'f'), "ffv_e.dat", "fv_f.dat.bak", "fv_g" and
// "fv_h.DAT" fail.  With a prefix only that one of "fv_" and "fvc_" passes.
bool isStoreFile(const std::string &name, const char *prefix) {
    const std::string::size_type f = name.find('f');
    const std::string::size_type u = name.find('_');
    if (f == std::string::npos || u == std::string::npos || u < f) return false;
    const std::string head = name.substr(f, u - f + 1);
    if (prefix != nullptr) {
        if (head != prefix) return false;
    } else if (head != "fv_" && head != "fvc_") {
        return false;
    }
    const std::string ext = extensionOf(name);
    return ext == ".dat" || ext == ".txt";
}

std::vector<std::string> folderEntries(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) cannotOpenFolder(folder, errno);
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_ino == 0) continue;  // a deleted slot some file systems report
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

std::vector<std::string> storableImages(const std::string &folder) {
    const std::string prefix = folderPrefix(folder);
    std::vector<std::string> paths;
    for (const std::string &name : folderEntries(folder))
        if (isImageEntry(name)) paths.push_back(prefix + name);
    for (const std::string &path : paths) requireOneLineName(path);
    return paths;
}

}  // namespace craq
