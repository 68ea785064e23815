// One voice for every error stop of the system.
//
// The system's messages are fixed texts that go out byte for byte, on the
// stream the message belongs to, with nothing added.  Before the process
// ends every open C stream is flushed, so what was written to an output file
// before the stop survives.  Every error stop exits with status 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace craq {

enum class Stream { out, err };

// Prints text exactly as given on the stream, flushes every open output
// stream and ends the process with status 1.
[[noreturn]] void fatalExit(Stream stream, const std::string &text);

// As above, then note on standard error: what the fixed text leaves out and
// the user needs (the path, the system's reason, what to do), so the
// system's text stays byte for byte where it is.
[[noreturn]] void fatalExit(Stream stream, const std::string &text, const std::string &note);

// An error stop that prints nothing: flushes every open output stream and
// ends the process with status 1 (a refused command word, or a failure
// already named where it happened).
[[noreturn]] void silentStop();

// Removes the temporary files of toolbox/safefile.h (with a status other
// than 0 also the files registered to go on failure), flushes every open C
// stream and ends the process with status (std::exit).
[[noreturn]] void endProcess(int status);

// The record constructors' stop: "out of memory!!" on standard output.
[[noreturn]] void outOfMemory();

// Allocates count zero-filled objects of size bytes with calloc; a failed
// request ends the process through outOfMemory().
void *zeroAlloc(std::size_t count, std::size_t size);

// Checked 64-bit arithmetic for block sizes.  Each returns false when the
// result overflows.
bool checkedAdd(int64_t a, int64_t b, int64_t *out);
bool checkedMul(int64_t a, int64_t b, int64_t *out);

// Truncates a double toward zero into an int.  A NaN or a value outside the
// int range cannot be converted (doing so is undefined): returns false and
// leaves *out unchanged.
bool truncToInt(double value, int *out);

}  // namespace craq
