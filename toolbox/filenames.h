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
// "images" must still address "images/a.jpg": folder with a '/' at its end.
// The current folder "." gets no prefix (its a.jpg is "a.jpg"), and ""
// stays "" rather than turning into the root folder.
std::string folderPrefix(const std::string &folder);

// A folder that did not open (error: the errno of opendir) ends the run
// with "cannot open directory. \n" on standard error, followed there by
// "<folder>: <reason>\n" naming it, status 1.
[[noreturn]] void cannotOpenFolder(const std::string &folder, int error);

// Store files, query files and web texts hold an image path as one line, so
// a path with a newline in it cannot be stored.  Called before anything is
// written: such a path stops the run with "cannot store image <path>: its
// name holds a line break\n" on standard output, each newline of the path
// shown as the two characters "\n", status 1.
void requireOneLineName(const std::string &path);

}  // namespace craq
