// Text-line helpers: line reading into a fixed buffer, in-place word
// splitting and the 32-bit leading number of a word.
#include "toolbox/textline.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace craq {

// Reads characters from fp up to a newline or the end of the file.  Every
// byte but the newline (carriage return, tab and NUL included) is stored
// while fewer than max - 1 are kept; later bytes of the line are read and
// dropped.  The newline ends the line: the NUL goes after the kept bytes and
// their count is returned (0 for an empty line).  At the end of the file (or
// a read error) with no byte stored, -1 is returned and buf left untouched;
// otherwise the kept bytes are terminated and returned like any other line,
// and the next call returns -1.  So with max 1, which keeps no byte, a last
// line without a newline reads as the end of the file.
//
// max < 1 leaves no room even for the terminator: the line is consumed and 0
// returned (-1 at the end of the file) without writing to buf.
//
// Example, max 3 on "12345\n6\n": "12" and 2, then "6" and 1, then -1.
int fgetline(std::FILE *fp, char *buf, int max) {
    int n = 0;
    for (;;) {
        const int c = std::getc(fp);
        if (c == EOF) break;
        if (c == '\n') {
            if (max >= 1) buf[n] = '\0';
            return n;
        }
        if (n < max - 1) buf[n++] = static_cast<char>(c);
    }
    if (n == 0) return -1;
    buf[n] = '\0';
    return n;
}

namespace {

// White space of the default locale; bytes above 127 never are (the cast
// keeps them out of isspace's undefined negative range).
bool isBlank(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u <= 127 && std::isspace(u) != 0;
}

}  // namespace

// Stores in words[0], words[1], ... the start of each white-space separated
// word of line and returns how many there are, at most max.  Only the one
// white-space byte right after a word is overwritten with NUL; further blanks
// stay.  Once max words are stored the rest of the line is not examined.  The
// pointers stay valid while the line buffer is not reused.
//
// Example: "\tab  c\r" gives 2 words, "ab" and "c"; the buffer becomes
// "\tab\0 c\0".  max < 1 stores nothing and returns 0.
int getwords(char *line, char **words, int max) {
    if (max < 1) return 0;
    int count = 0;
    char *p = line;
    for (;;) {
        while (*p != '\0' && isBlank(*p)) p++;
        if (*p == '\0') return count;
        words[count++] = p;
        while (*p != '\0' && !isBlank(*p)) p++;
        if (*p == '\0') return count;
        *p++ = '\0';
        if (count >= max) return count;
    }
}

// A 64-bit strtol saturates only at the 64-bit bounds; clamping its result
// to the 32-bit range gives what a 32-bit strtol returns.
int32_t strtol32(const char *word) {
    const long value = std::strtol(word, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace craq
