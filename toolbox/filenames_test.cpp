#include "toolbox/filenames.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tests/support/capture.h"

namespace craq {
namespace {

TEST(Filenames_isImageEntry, lastExtensionExactly) {
    struct Case {
        const char *name;
        bool image;
    };
    const Case cases[] = {{"a.jpg", true},      {"a.tif", true},  {"a.v", true},      {"c.tif.jpg", true},
                          {"a.JPG", false},     {"b.jpeg", false}, {"a.jpg.bak", false}, {"jpg", false},
                          {"a.tiff", false},    {".v", true},      {"a.", false},      {"a.vv", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isImageEntry(c.name), c.image);
    }
}

// The current folder "." gets no prefix: its a.jpg is "a.jpg" (it used to
// be "./a.jpg"); "./" is a folder text like any other.
TEST(Filenames_folderPrefix, regression_trailingSlashAdded) {
    EXPECT_EQ(folderPrefix("images"), "images/");
    EXPECT_EQ(folderPrefix("images/"), "images/");
    EXPECT_EQ(folderPrefix("."), "");
    EXPECT_EQ(folderPrefix("./"), "./");
    EXPECT_EQ(folderPrefix(".."), "../");
    EXPECT_EQ(folderPrefix("/"), "/");
    EXPECT_EQ(folderPrefix(""), "");
    EXPECT_EQ(folderPrefix("/data/FV"), "/data/FV/");
}

TEST(Filenames_extensionOf, regression_lastDotOfFileName) {
    struct Case {
        const char *path;
        const char *ext;
    };
    const Case cases[] = {{"./imgs/q.jpg", ".jpg"},  {"/home/a.b/x.jpg", ".jpg"},
                          {"/home/a.b/x.tif", ".tif"}, {"/d/c.tif.jpg", ".jpg"},
                          {"/d/x.v", ".v"},           {"/home/a.b/noext", ""},
                          {"plain.tif", ".tif"},       {"../x", ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(extensionOf(c.path), c.ext);
    }
}

// Store files hold a path as one line: a path with a newline is refused,
// the newline shown as "\n"; any other name passes silently.
TEST(Filenames_requireOneLineName, regression_newlineRefused) {
    struct Case {
        const char *path;
        const char *out;  // "" when the name passes
    };
    const Case cases[] = {
        {"images/a b.jpg", ""},
        {"x['\".jpg", ""},
        {"tab\there\r.jpg", ""},
        {"images/a\nb.jpg", "cannot store image images/a\\nb.jpg: its name holds a line break\n"},
        {"\n", "cannot store image \\n: its name holds a line break\n"},
        {"d\nir/x\n.jpg", "cannot store image d\\nir/x\\n.jpg: its name holds a line break\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        test::RunResult r = test::runCaptured([&] { requireOneLineName(c.path); });
        EXPECT_EQ(r.status, *c.out == '\0' ? 0 : 1);
        EXPECT_EQ(r.out, c.out);
    }
}

// A folder that does not open is named with the system's reason after the
// fixed text (which named nothing).
TEST(Filenames_cannotOpenFolder, regression_folderAndReasonNamed) {
    test::RunResult r = test::runCaptured([] { cannotOpenFolder("imgaes/", ENOENT); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open directory. \nimgaes/: No such file or directory\n");
}

TEST(Filenames_isStoreFile, nameTable) {
    struct Case {
        const char *name;
        const char *prefix;
        bool passes;
    };
    const Case cases[] = {
        {"fv_a.dat", nullptr, true},     {"fvc_b.txt", nullptr, true},
        {"xfv_c.dat", nullptr, true},    {"my_fv_d.dat", nullptr, false},
        {"ffv_e.dat", nullptr, false},   {"fv_f.dat.bak", nullptr, false},
        {"fv_g", nullptr, false},        {"fv_h.DAT", nullptr, false},
        {"fv_.dat", nullptr, true},      {"fv_a b.dat", nullptr, true},
        {"fvx_a.dat", nullptr, false},   {".", nullptr, false},
        {"fv_a.dat", "fv_", true},       {"fvc_a.dat", "fv_", false},
        {"fvc_a.dat", "fvc_", true},     {"fv_a.dat", "fvc_", false},
        {"fv_x.jpg.txt", "fv_", true},   {"fv.dat", nullptr, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + (c.prefix ? c.prefix : "any"));
        EXPECT_EQ(isStoreFile(c.name, c.prefix), c.passes);
    }
}

}  // namespace
}  // namespace craq
