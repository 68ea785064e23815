#include "toolbox/commandline.h"

#include <cstdio>

#include "toolbox/fatal.h"
#include "toolbox/filenames.h"

namespace craq {

std::string usageText(const char *const *lines, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; i++) text += std::string(lines[i]) + "\n";
    return text;
}

void printFramedHelp(const std::string &body, int closingWidth) {
    const std::string frame(89, '*');
    std::printf("\n%s\n", frame.c_str());
    std::printf("*         This program performs content based retrieval of craquelure patterns          *\n");
    std::printf("%s\n", frame.c_str());
    std::fputs(body.c_str(), stdout);
    std::printf("%s\n", std::string(static_cast<std::size_t>(closingWidth), '*').c_str());
}

bool askYesNo(const char *question) {
    std::fputs(question, stdout);
    std::fflush(stdout);
    const int answer = std::getchar();  // EOF (no answer) counts as no
    std::printf("\n");
    return answer == 'y' || answer == 'Y';
}

// The store files of the current directory in listing order.
void listStoreFiles(const char *prefix) {
    int count = 0;
    for (const std::string &name : folderEntries(".")) {
        if (!isStoreFile(name, prefix)) continue;
        std::printf("%s\n", name.c_str());
        count++;
    }
    if (count == 0) fatalExit(Stream::out, "No matching files found\n");
}

}  // namespace craq
