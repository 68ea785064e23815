#include "tests/support/memlimit.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

namespace craq::test {

namespace {

// VmSize of /proc/self/status in bytes, 0 when it cannot be read.
std::size_t presentAddressSpace() {
    std::FILE *fp = std::fopen("/proc/self/status", "r");
    if (fp == nullptr) return 0;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, fp) != nullptr) {
        if (std::strncmp(line, "VmSize:", 7) == 0) {
            if (std::sscanf(line + 7, "%llu", &kib) != 1) kib = 0;
            break;
        }
    }
    std::fclose(fp);
    return static_cast<std::size_t>(kib) * 1024;
}

}  // namespace

bool capAddressSpaceGrowth(std::size_t headroom) {
    const std::size_t present = presentAddressSpace();
    if (present == 0) return false;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
    const rlim_t wanted = static_cast<rlim_t>(present + headroom);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) return false;
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

}  // namespace craq::test
