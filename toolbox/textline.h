// Text-line helpers that every reader of the system's text files uses:
// reading one line into a fixed buffer, splitting it into words in place,
// and reading a word's leading number as a 32-bit strtol does.
//
// Stateless: no allocation, no output.  The caller picks the buffer size and
// the greatest word count.
#pragma once

#include <cstdint>
#include <cstdio>

namespace craq {

// Greatest number of words the system's readers cut one line into.
constexpr int kMaxLineWords = 20;

// Reads one line of fp into buf (max bytes): keeps at most max - 1 bytes,
// discards the rest of the line, never stores the newline, terminates
// every line it returns.  Returns the number of bytes kept, or -1 at end of
// file when no byte was stored (buf untouched then; with max 1 a last line
// without a newline reads so).
int fgetline(std::FILE *fp, char *buf, int max);

// Splits line in place into at most max white-space separated words:
// words[0..count-1] point into line, the single white-space byte after each
// word becomes NUL; entries from count on are untouched.  Returns count.
int getwords(char *line, char **words, int max);

// The leading number of word in base 10 as strtol reads it with a 32-bit
// long: "2x" is 2, a word that is no number 0, and values beyond the 32-bit
// range saturate at 2147483647 and -2147483648.
int32_t strtol32(const char *word);

}  // namespace craq
