// What the programs' command lines share: the usage texts, the yes/no
// question and the listing of store files.
#pragma once

#include <cstddef>
#include <string>

namespace craq {

// The lines[0..count-1], each followed by a newline.
std::string usageText(const char *const *lines, std::size_t count);

// The help text: an empty line, the 89-asterisk frame around the title
// line, the body, then closingWidth asterisks; each line ends in a newline.
void printFramedHelp(const std::string &body, int closingWidth);

// Prints question, reads one character of standard input and prints a
// newline; true for 'y' or 'Y' (end of input counts as no).
bool askYesNo(const char *question);

// Prints the store files (isStoreFile with prefix; null: both kinds) of
// the current directory, one name a line; none: "No matching files found",
// exit 1.
void listStoreFiles(const char *prefix);

}  // namespace craq
