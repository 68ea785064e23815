// File-name rules and folder listings shared by the programs.
#pragma once

#include <string>
#include <vector>

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

// Store file test: the text of the name from its first 'f' through its first
// '_' (which must come after that 'f') is "fv_" or "fvc_", and the text from
// its last '.' on is ".dat" or ".txt".  With a prefix ("fv_" or "fvc_") the
// text through the first '_' must be that prefix.
bool isStoreFile(const std::string &name, const char *prefix = nullptr);

// Names of the entries of folder in listing order (entries with inode 0
// left out).  A folder that cannot be opened: cannotOpenFolder.
std::vector<std::string> folderEntries(const std::string &folder);

// The paths (folderPrefix, then the name; the current folder "." gives the
// names alone) of the image entries of folder in listing order.  A name
// that cannot be stored (requireOneLineName) stops the run before anything
// is returned.
std::vector<std::string> storableImages(const std::string &folder);

}  // namespace craq
