// The golden cases and their recording (see golden_cases.h).
//
// Inputs: four photograph-like images of 256 x 320 pixels, checked in as
// JPEGs (tests/golden/images/, made once with
// "craq_samples <dir> 4 --photo 256x320"; decoding, unlike encoding, gives
// the same pixels on every machine), and one tiny L-shaped crack drawn below
// and written as a lossless TIFF.  The template set of vosk2 and pelko and
// the earlier one of vosk are checked in under tests/golden/templates/.
//
// Folder commands get a folder with one image each: the order of a folder
// listing differs between file systems, and one image per folder keeps every
// output independent of it.  For the same reason the class listings run on
// a store of one image, and a ranked listing in which two images tie is
// refused (their order would follow the listing).
#include "tests/golden/golden_cases.h"

#include <filesystem>
#include <regex>
#include <set>

#include "tests/support/capture.h"
#include "toolbox/vipsio.h"

namespace craq::golden {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// A 24 x 20 grey picture with one dark, one-pixel-wide L-shaped crack: a
// leg down column 5 from row 4 to row 14 and a foot along row 14 to
// column 18 ('#' grey 40, '.' grey 200).
const char *const kEll[] = {
    "........................",
    "........................",
    "........................",
    "........................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....#..................",
    ".....##############.....",
    "........................",
    "........................",
    "........................",
    "........................",
    "........................",
};

void writeEll(const std::string &path) {
    const int rows = static_cast<int>(sizeof kEll / sizeof kEll[0]), cols = 24;
    std::vector<unsigned char> px;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) px.push_back(kEll[r][c] == '#' ? 40 : 200);
    writeImage(imageFromBytes(px.data(), cols, rows), path);
}

enum class Program { vosk2, pelko, vosk };

struct Step {
    std::string label;
    Program program;
    std::vector<std::string> args;
    std::string input;  // standard input
};

// An input image: where it goes in the run folder and what it is ("ell" or
// the checked-in photo_0N.jpg).
struct Input {
    std::string path;
    std::string image;
};

struct Case {
    std::string name;
    std::vector<Input> images;
    bool templates = false;                     // vosk2's set in data/CL/
    bool earlierTemplates = false;              // vosk's set in vosk_templates/
    std::map<std::string, std::string> texts;   // further input files
    std::vector<Step> steps;
};

const char *const kPhotos[] = {"photo_01.jpg", "photo_02.jpg", "photo_03.jpg", "photo_04.jpg"};

std::vector<Input> allImagesIn(const std::string &dir) {
    std::vector<Input> in{{dir + "ell.tif", "ell"}};
    for (const char *p : kPhotos) in.push_back({dir + p, p});
    return in;
}

Step vosk2(const std::string &label, std::vector<std::string> args, std::string input = "") {
    return Step{label, Program::vosk2, std::move(args), std::move(input)};
}
Step pelko(const std::string &label, std::vector<std::string> args, std::string input = "") {
    return Step{label, Program::pelko, std::move(args), std::move(input)};
}
Step vosk(const std::string &label, std::vector<std::string> args, std::string input = "") {
    return Step{label, Program::vosk, std::move(args), std::move(input)};
}

std::string stem(const std::string &name) { return name.substr(0, name.find('.')); }

std::vector<Case> allCases() {
    std::vector<Case> cases;
    const std::vector<Input> images = allImagesIn("images/");

    // vosk2: each image stored singly (merge setting clear: box-corner
    // merging and clustering), then each from a folder of its own (every
    // crack into one network), queried by pattern and by features, a TIFF
    // query among them.
    {
        Case c{"vosk2_file", images, true, false, {}, {}};
        for (const Input &in : images)
            c.steps.push_back(vosk2("generateFV_file_" + stem(in.image), {"-generateFV", "-file", in.path}));
        cases.push_back(c);
    }
    {
        Case c{"vosk2_folder", {}, true, false, {}, {}};
        int n = 1;
        for (const Input &in : images) {
            const std::string dir = "f" + std::to_string(n++) + "/";
            c.images.push_back({dir + fs::path(in.path).filename().string(), in.image});
            c.steps.push_back(vosk2("generateFV_folder_" + stem(in.image), {"-generateFV", "-folder", dir}));
        }
        c.steps.push_back(vosk2("queryImage_pattern_photo_01", {"-queryImage", "-pattern", "f2/photo_01.jpg"}));
        c.steps.push_back(vosk2("queryImage_feature_photo_03", {"-queryImage", "-feature", "f4/photo_03.jpg"}));
        c.steps.push_back(vosk2("queryImage_pattern_ell", {"-queryImage", "-pattern", "f1/ell.tif"}));
        cases.push_back(c);
    }
    // Class listings keep store order: a store of one image with several
    // networks.
    {
        Case c{"vosk2_class", {{"images/photo_01.jpg", "photo_01.jpg"}}, true, false, {}, {}};
        c.steps.push_back(vosk2("generateFV_file_photo_01", {"-generateFV", "-file", "images/photo_01.jpg"}));
        c.steps.push_back(vosk2("queryImage_class_photo_01", {"-queryImage", "-class", "images/photo_01.jpg"}));
        for (const char *code : {"3", "4"}) c.steps.push_back(vosk2(std::string("queryType_") + code, {"-queryType", code}));
        cases.push_back(c);
    }
    // "-analyse" with each answer of the feature display menu.
    {
        Case c{"vosk2_analyse", images, true, false, {}, {}};
        const char *const answers[] = {"1\n", "1\n", "2\n", "3\n", "4\n"};
        for (size_t i = 0; i < images.size(); i++)
            c.steps.push_back(vosk2("analyse_" + stem(images[i].image), {"-analyse", images[i].path}, answers[i]));
        cases.push_back(c);
    }
    // pelko: the list form over all five images, then leave-one-out and
    // Fisher ratios of the set it made; the folder form creating a set and
    // appending to it.
    {
        Case c{"pelko_list", images, false, false, {}, {}};
        c.texts["data/CL/image_label.dat"] =
            "images/ell.tif 1\nimages/photo_01.jpg 1\nimages/photo_02.jpg 2\nimages/photo_03.jpg 3\n"
            "images/photo_04.jpg 4\n";
        c.steps.push_back(pelko("train_textfile", {"train", "-textfile"}));
        c.steps.push_back(pelko("error_1_3", {"-error", "1", "3"}));
        c.steps.push_back(pelko("fisher", {"-fisher"}));
        cases.push_back(c);
    }
    {
        Case c{"pelko_folder", {{"f1/photo_02.jpg", "photo_02.jpg"}, {"f2/ell.tif", "ell"}}, false, false, {}, {}};
        c.texts["data/CL/image_label.dat"] = "1 9\n";
        c.steps.push_back(pelko("generateMap_create_photo_02", {"-generateMap", "-folder", "f1/"}, "c\n"));
        c.steps.push_back(pelko("generateMap_append_ell", {"-generateMap", "-folder", "f2/"}, "a\n"));
        cases.push_back(c);
    }
    // vosk: feature files of each image, a folder, the listing and queries
    // by number over a store of one image, the display of "-analyse", and
    // "-classify".
    {
        Case c{"vosk_file", images, false, true, {}, {}};
        for (const Input &in : images)
            c.steps.push_back(vosk("generateFV_file_" + stem(in.image), {"-generateFV", "-file", in.path}));
        cases.push_back(c);
    }
    {
        Case c{"vosk_store", {{"f1/photo_04.jpg", "photo_04.jpg"}}, false, true, {}, {}};
        c.steps.push_back(vosk("generateFV_folder_photo_04", {"-generateFV", "-folder", "f1/"}));
        c.steps.push_back(vosk("listFV", {"-listFV"}));
        for (const char *n : {"1", "2"}) c.steps.push_back(vosk(std::string("queryType_") + n, {"-queryType", n}));
        c.steps.push_back(vosk("deleteFV", {"-deleteFV", "."}, "y\n"));
        cases.push_back(c);
    }
    {
        Case c{"vosk_query", {{"images/photo_02.jpg", "photo_02.jpg"}}, false, true, {}, {}};
        c.steps.push_back(vosk("queryImage_class_photo_02", {"-queryImage", "-class", "images/photo_02.jpg"}));
        cases.push_back(c);
    }
    {
        Case c{"vosk_analyse", images, false, true, {}, {}};
        c.steps.push_back(vosk("analyse_ell", {"-analyse", "images/ell.tif"}, "1\n"));
        c.steps.push_back(vosk("analyse_photo_03", {"-analyse", "images/photo_03.jpg"}, "2\n"));
        c.steps.push_back(vosk("classify_photo_01", {"-classify", "images/photo_01.jpg"}));
        c.steps.push_back(vosk("classify_ell", {"-classify", "images/ell.tif"}));
        cases.push_back(c);
    }
    return cases;
}

// Every regular file under root by relative name.
std::map<std::string, std::string> snapshot(const std::string &root) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = readFile(e.path().string());
    return files;
}

// The decoded pixels of 128 and over of a JPEG, row by row as column runs.
std::string jpegMask(const std::string &path) {
    const vips::VImage img = loadImage(path);
    const std::string px = imageBytes(img);
    const int w = img.width(), h = img.height();
    std::string out = "jpeg " + std::to_string(w) + " x " + std::to_string(h) +
                      ", decoded pixels of 128 and over (row: columns)\n";
    for (int r = 0; r < h; r++) {
        std::string line;
        for (int c = 0; c < w;) {
            if (static_cast<unsigned char>(px[static_cast<size_t>(r) * w + c]) < 128) {
                c++;
                continue;
            }
            int end = c;
            while (end + 1 < w && static_cast<unsigned char>(px[static_cast<size_t>(r) * w + end + 1]) >= 128) end++;
            line += " " + std::to_string(c) + (end > c ? "-" + std::to_string(end) : "");
            c = end + 1;
        }
        if (!line.empty()) out += std::to_string(r) + ":" + line + "\n";
    }
    return out;
}

// Ranked listing lines "N) Source:<path>,  Region:... -  Score:<s>, Rank = N"
// of two different images with the same score: their order would follow
// the folder listing.  Returns the first such pair, "" when there is none.
std::string rankTie(const std::string &out) {
    static const std::regex line(R"(^[0-9]+\) Source:(.*),  Region:.* -  Score:([-0-9.]+), Rank = [0-9]+$)");
    std::map<std::string, std::set<std::string>> byScore;
    for (const std::string &l : test::lines(out)) {
        std::smatch m;
        if (!std::regex_match(l, m, line)) continue;
        std::set<std::string> &sources = byScore[m[2].str()];
        sources.insert(m[1].str());
        if (sources.size() > 1) return "images tie at score " + m[2].str() + ": " + *sources.begin() + ", " + *sources.rbegin();
    }
    return "";
}

}  // namespace

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    for (const Case &c : allCases()) names.push_back(c.name);
    return names;
}

std::map<std::string, std::string> runCase(const std::string &name, const Programs &programs,
                                           const std::string &sourceDir, std::string *problem) {
    problem->clear();
    std::map<std::string, std::string> recorded;
    const std::vector<Case> cases = allCases();
    const Case *found = nullptr;
    for (const Case &c : cases)
        if (c.name == name) found = &c;
    if (found == nullptr) {
        *problem = "no case " + name;
        return recorded;
    }
    const Case &c = *found;
    const std::string golden = sourceDir + "/tests/golden/";

    test::TempDir run;
    for (const char *sub : {"data/FV", "data/FVC", "data/TEMP", "data/CL", "web/lib_0/metadata",
                            "web/lib_0/thumbnail", "web/lib_0/analyse", "web/lib_0/analyse_image",
                            "web/placeholder", "vosk_templates"})
        fs::create_directories(run.file(sub));
    fs::copy_file(sourceDir + "/assets/dummy.jpg", run.file("web/placeholder/dummy.jpg"));
    std::map<std::string, std::string> imageOf;  // input image bytes -> its path
    for (const Input &in : c.images) {
        fs::create_directories(fs::path(run.file(in.path)).parent_path());
        if (in.image == "ell")
            writeEll(run.file(in.path));
        else
            fs::copy_file(golden + "images/" + in.image, run.file(in.path));
        imageOf[readFile(run.file(in.path))] = in.path;
    }
    if (c.templates)
        for (const char *f : {"feature_map.dat", "feature_label.dat"})
            fs::copy_file(golden + "templates/vosk2/" + f, run.file(std::string("data/CL/") + f));
    if (c.earlierTemplates)
        for (const char *f : {"feature_map.dat", "feature_label.dat"})
            fs::copy_file(golden + "templates/vosk/" + f, run.file(std::string("vosk_templates/") + f));
    for (const auto &t : c.texts) writeFile(run.file(t.first), t.second);

    std::map<std::string, std::string> before = snapshot(run.path());
    for (const Step &s : c.steps) {
        const std::string &program = s.program == Program::vosk2   ? programs.vosk2
                                     : s.program == Program::pelko ? programs.pelko
                                                                   : programs.vosk;
        if (!fs::exists(program)) {
            *problem = "program not found: " + program;
            return recorded;
        }
        const test::RunResult r = test::runProgram(program, s.args, s.input, run.path());
        const std::string at = s.label + "/";
        recorded[at + "stdout"] = r.out;
        std::string status = r.signal != 0 ? "signal " + std::to_string(r.signal) + "\n"
                                           : "exit " + std::to_string(r.status) + "\n";
        status += r.err;
        const std::map<std::string, std::string> after = snapshot(run.path());
        for (const auto &f : before)
            if (after.count(f.first) == 0) status += "removed " + f.first + "\n";
        recorded[at + "status"] = status;
        for (const auto &f : after) {
            const auto old = before.find(f.first);
            if (old != before.end() && old->second == f.second) continue;
            const auto copy = imageOf.find(f.second);
            if (copy != imageOf.end())
                recorded[at + f.first + ".copy"] = copy->second + "\n";
            else if (fs::path(f.first).extension() == ".jpg")
                recorded[at + f.first + ".mask"] = jpegMask(run.file(f.first));
            else
                recorded[at + f.first] = f.second;
        }
        const std::string tie = rankTie(r.out);
        if (!tie.empty() && problem->empty()) *problem = s.label + ": " + tie;
        before = after;
    }
    return recorded;
}

std::map<std::string, std::string> readExpected(const std::string &name, const std::string &sourceDir) {
    const std::string dir = sourceDir + "/tests/golden/expected/" + name;
    if (!fs::is_directory(dir)) return {};
    return snapshot(dir);
}

void writeExpected(const std::string &name, const std::string &sourceDir,
                   const std::map<std::string, std::string> &files) {
    const std::string dir = sourceDir + "/tests/golden/expected/" + name + "/";
    fs::remove_all(dir);
    for (const auto &f : files) {
        fs::create_directories(fs::path(dir + f.first).parent_path());
        writeFile(dir + f.first, f.second);
    }
}

}  // namespace craq::golden
