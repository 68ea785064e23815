#include "toolbox/fatal.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "toolbox/safefile.h"

namespace craq {

void endProcess(int status) {
    // Temporary files never outlive the run; a failed run also takes back
    // the files it kept only for a good ending.
    removeRegisteredFiles(status != 0);
    std::fflush(nullptr);
    std::exit(status);
}

void fatalExit(Stream stream, const std::string &text) {
    std::FILE *fp = stream == Stream::out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), fp);
    endProcess(1);
}

void fatalExit(Stream stream, const std::string &text, const std::string &note) {
    std::FILE *fp = stream == Stream::out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), fp);
    std::fflush(fp);
    std::fwrite(note.data(), 1, note.size(), stderr);
    endProcess(1);
}

void silentStop() { endProcess(1); }

void outOfMemory() { fatalExit(Stream::out, "out of memory!!"); }

void *zeroAlloc(std::size_t count, std::size_t size) {
    void *p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
    if (p == nullptr) outOfMemory();
    return p;
}

bool checkedAdd(int64_t a, int64_t b, int64_t *out) {
    return !__builtin_add_overflow(a, b, out);
}

bool checkedMul(int64_t a, int64_t b, int64_t *out) {
    return !__builtin_mul_overflow(a, b, out);
}

bool truncToInt(double value, int *out) {
    if (!(value > static_cast<double>(INT_MIN) - 1.0 &&
          value < static_cast<double>(INT_MAX) + 1.0))
        return false;  // also catches NaN
    *out = static_cast<int>(value);
    return true;
}

}  // namespace craq

// Huge requests must reach our own failure message instead of the address
// sanitizer's abort, in the sanitizer build.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1";
}
