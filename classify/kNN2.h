// Multistage k-nearest-neighbour classifier and the text-line helpers that
// every reader of the system's text files uses.
#pragma once

#include <cstdio>

namespace craq {

// ===========================================================================
// Text-line helpers
// ===========================================================================
//
// Stateless: no allocation, no output.  The caller picks the buffer size and
// the greatest word count.

// Reads one line of fp into buf (max bytes): keeps at most max - 1 bytes,
// discards the rest of the line, never stores the newline, always
// terminates.  Returns the number of bytes kept, or -1 at end of file when
// nothing was read (buf untouched then).
int fgetline(std::FILE *fp, char *buf, int max);

// Splits line in place into at most max white-space separated words:
// words[0..count-1] point into line, the single white-space byte after each
// word becomes NUL; entries from count on are untouched.  Returns count.
int getwords(char *line, char **words, int max);

}  // namespace craq
