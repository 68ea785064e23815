#include "classify/kNN2.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace craq {
namespace {

// An anonymous temporary file holding text, positioned at its start.
class TextFile {
public:
    explicit TextFile(const std::string &text) : fp_(std::tmpfile()) {
        if (fp_ == nullptr) throw std::runtime_error("tmpfile failed");
        std::fwrite(text.data(), 1, text.size(), fp_);
        std::rewind(fp_);
    }
    ~TextFile() { std::fclose(fp_); }
    TextFile(const TextFile &) = delete;
    TextFile &operator=(const TextFile &) = delete;
    std::FILE *get() const { return fp_; }

private:
    std::FILE *fp_;
};

struct Line {
    int result;
    std::string text;  // buffer contents up to the terminator
};

// Reads lines with the given max until -1 (and two more calls after it).
std::vector<Line> readAll(const std::string &text, int max) {
    TextFile f(text);
    std::vector<Line> lines;
    std::vector<char> buf(max > 0 ? max : 1, 'X');
    for (int guard = 0; guard < 100; guard++) {
        int n = fgetline(f.get(), buf.data(), max);
        if (n < 0) break;
        lines.push_back({n, std::string(buf.data(), n)});
        EXPECT_EQ(buf[n], '\0');
    }
    EXPECT_EQ(fgetline(f.get(), buf.data(), max), -1);
    EXPECT_EQ(fgetline(f.get(), buf.data(), max), -1);
    return lines;
}

TEST(kNN2_fgetline, linesOfAFile) {
    struct Case {
        const char *name;
        std::string text;
        int max;
        std::vector<Line> expected;
    };
    const Case cases[] = {
        {"ab, empty, cd without newline", "ab\n\ncd", 100, {{2, "ab"}, {0, ""}, {2, "cd"}}},
        {"five digits with max 3", "12345\n6\n", 3, {{2, "12"}, {1, "6"}}},
        {"exactly max - 1", "123\n1234\n", 4, {{3, "123"}, {3, "123"}}},
        // the last line has no newline and stores nothing: end of file
        {"max 1 keeps nothing", "abc\n\nd", 1, {{0, ""}, {0, ""}}},
        {"carriage return kept", "x y\r\n", 100, {{4, "x y\r"}}},
        {"tab and NUL stored", std::string("a\tb\0c\n", 6), 100, {{5, std::string("a\tb\0c", 5)}}},
        {"only newlines", "\n\n", 10, {{0, ""}, {0, ""}}},
        {"empty file", "", 10, {}},
        {"bytes above 127", "\xe9\xff\n", 10, {{2, "\xe9\xff"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Line> got = readAll(c.text, c.max);
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); i++) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].result, c.expected[i].result);
            EXPECT_EQ(got[i].text, c.expected[i].text);
        }
    }
}

TEST(kNN2_fgetline, endOfFileLeavesBufferUntouched) {
    TextFile f("z");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(fgetline(f.get(), buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "z");
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(fgetline(f.get(), buf, sizeof buf), -1);
    for (char c : buf) EXPECT_EQ(c, '#');
}

// With max 1 no byte is ever stored, so a last line without a newline ends
// the file: -1, and the buffer is not even terminated.
TEST(kNN2_fgetline, regression_maxOneAtEndOfFileStoresNothing) {
    for (const char *text : {"abc", "x\nabc"}) {
        SCOPED_TRACE(text);
        TextFile f(text);
        char buf = '#';
        if (text[1] == '\n') {
            EXPECT_EQ(fgetline(f.get(), &buf, 1), 0);
            EXPECT_EQ(buf, '\0');
            buf = '#';
        }
        EXPECT_EQ(fgetline(f.get(), &buf, 1), -1);
        EXPECT_EQ(buf, '#');
        EXPECT_EQ(fgetline(f.get(), &buf, 1), -1);
    }
}

// A line far longer than the buffer: exactly max - 1 bytes and the
// terminator are written, the bytes after the buffer stay as they were, and
// the next call starts on the next line.
TEST(kNN2_fgetline, longLineNeverWritesPastBuffer) {
    const int max = 16;
    char block[max + 32];
    std::memset(block, '@', sizeof block);
    TextFile f(std::string(500, 'a') + "\nnext\n");
    EXPECT_EQ(fgetline(f.get(), block, max), max - 1);
    EXPECT_EQ(std::string(block), std::string(max - 1, 'a'));
    for (size_t i = max; i < sizeof block; i++) EXPECT_EQ(block[i], '@') << i;
    EXPECT_EQ(fgetline(f.get(), block, max), 4);
    EXPECT_STREQ(block, "next");
}

// With no room even for a terminator the line is consumed and nothing is
// written; a last line without a newline stores nothing and reads as the
// end of the file.
TEST(kNN2_fgetline, maxBelowOneWritesNothing) {
    for (int max : {0, -5}) {
        SCOPED_TRACE(max);
        TextFile f("abc\n\nd");
        char canary = '@';
        EXPECT_EQ(fgetline(f.get(), &canary, max), 0);
        EXPECT_EQ(fgetline(f.get(), &canary, max), 0);
        EXPECT_EQ(fgetline(f.get(), &canary, max), -1);
        EXPECT_EQ(fgetline(f.get(), &canary, max), -1);
        EXPECT_EQ(canary, '@');
    }
}

// Splits text (a copy) and reports the words and the buffer afterwards.
struct Split {
    int count;
    std::vector<std::string> words;
    std::string buffer;  // whole buffer, embedded NULs included
};

Split split(const std::string &text, int max) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    std::vector<char *> words(max > 0 ? max : 1, nullptr);
    Split s;
    s.count = getwords(line.data(), words.data(), max);
    for (int i = 0; i < s.count; i++) s.words.emplace_back(words[i]);
    s.buffer.assign(line.data(), text.size());
    return s;
}

TEST(kNN2_getwords, splitsOnWhiteSpace) {
    struct Case {
        const char *name;
        std::string text;
        int max;
        std::vector<std::string> words;
        std::string buffer;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"empty line", "", 20, {}, ""},
        {"blanks and tabs only", " \t  \t", 20, {}, " \t  \t"},
        {"one word", "word", 20, {"word"}, "word"},
        {"leading, doubled, trailing", "  one\t\ttwo  three \t", 20, {"one", "two", "three"},
         "  one\0\ttwo\0 three\0\t"s},
        {"max 2 of three words", "a b c", 2, {"a", "b"}, "a\0b\0c"s},
        {"max 1 stops after the first word", "x  y", 1, {"x"}, "x\0 y"s},
        {"carriage return is white space", "12 34\r", 20, {"12", "34"}, "12\0" "34\0"s},
        {"every white-space byte", "a\vb\fc\nd\re", 20, {"a", "b", "c", "d", "e"},
         "a\0b\0c\0d\0e"s},
        {"bytes above 127 are word bytes", "\xa0x\x85 \xff", 20, {"\xa0x\x85", "\xff"},
         "\xa0x\x85\0\xff"s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Split s = split(c.text, c.max);
        EXPECT_EQ(s.count, static_cast<int>(c.words.size()));
        EXPECT_EQ(s.words, c.words);
        EXPECT_EQ(s.buffer, c.buffer);
    }
}

TEST(kNN2_getwords, entriesBeyondCountUntouched) {
    char line[] = " p q ";
    char marker = 0;
    char *words[5] = {&marker, &marker, &marker, &marker, &marker};
    EXPECT_EQ(getwords(line, words, 5), 2);
    EXPECT_STREQ(words[0], "p");
    EXPECT_STREQ(words[1], "q");
    for (int i = 2; i < 5; i++) EXPECT_EQ(words[i], &marker);
}

TEST(kNN2_getwords, maxBelowOneWritesNothing) {
    for (int max : {0, -1}) {
        SCOPED_TRACE(max);
        char line[] = "a b";
        char *word = nullptr;
        EXPECT_EQ(getwords(line, &word, max), 0);
        EXPECT_EQ(word, nullptr);
        EXPECT_EQ(std::string(line, 3), "a b");
    }
}

// A CRLF line as the readers see it: the carriage return stays in the
// buffer, but not in the last word.
TEST(kNN2_getwords, crlfLineFromFgetline) {
    TextFile f("img.tif 12\r\n3\r\n");
    char buf[100];
    char *words[20];
    ASSERT_EQ(fgetline(f.get(), buf, 100), 11);
    EXPECT_EQ(buf[10], '\r');
    ASSERT_EQ(getwords(buf, words, 20), 2);
    EXPECT_STREQ(words[0], "img.tif");
    EXPECT_STREQ(words[1], "12");
    ASSERT_EQ(fgetline(f.get(), buf, 100), 2);
    ASSERT_EQ(getwords(buf, words, 20), 1);
    EXPECT_STREQ(words[0], "3");
}

}  // namespace
}  // namespace craq
