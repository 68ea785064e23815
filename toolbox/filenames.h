// File-name rules shared by the programs.
#pragma once

#include <string>

namespace craq {

// Extension of a path: the text from the last '.' of its file name (after
// its last '/') to the end; "" when the file name has no '.'.
// "./imgs/q.jpg" -> ".jpg"; "/home/a.b/x.tif" -> ".tif"; "/data/noext" -> "".
std::string extensionOf(const std::string &path);

// Image entry of a folder: the extension is exactly ".jpg", ".tif" or ".v"
// ("c.tif.jpg" is one; "a.JPG", "b.jpeg" and "d.jpg.bak" are not).
bool isImageEntry(const std::string &name);

// Entry names are put straight after the folder text, so a folder given as
// "images" must still address "images/a.jpg": folder with a '/' at its end
// ("." gives "./"; "" stays "" rather than turning into the root folder).
std::string folderPrefix(const std::string &folder);

}  // namespace craq
