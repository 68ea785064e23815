// A small program for the worker pool's tests: a run of tasks of its own,
// each storing one file, with behaviours chosen per task.
//
//   workers_test_task <folder> <task>...
//   workers_test_task <folder> @<file>     (the tasks, one per line)
//
// A task is "<name>:<action>[:<cost>[:<after>]]" with any text after a
// further ':' ignored (long tasks).  Every task prints "begin <name>",
// stores <folder>/out/<name>.txt through a FileSet, prints "stored <name>"
// and writes "line <name>" to the run's data stream, stored as
// <folder>/data.txt when the run ends well.
// Actions:
//   ok          nothing more;
//   stop        an error stop before storing ("task <name> stopped", status 1);
//   stopafter   an error stop after storing;
//   kill        in a worker, the first time: killed by SIGKILL mid-task,
//               after its temporary file is made (a marker file in the
//               folder says it was done);
//   pid         writes the worker's process number to <folder>/<name>.pid
//               when done (in a worker);
//   term=<n>    in a worker: waits until <folder>/<n>.pid exists, then
//               sends SIGTERM to that (idle) worker;
//   slow        sleeps 50 ms before storing.
// The run's done callback prints "done <name>".
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "toolbox/fatal.h"
#include "toolbox/safefile.h"
#include "toolbox/workers.h"

namespace {

std::string folder;
bool inWorker = false;

struct Spec {
    std::string name, action;
    unsigned long long cost = 0;
    long after = -1;
};

Spec parse(const std::string &arg) {
    Spec s;
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const std::string::size_type colon = arg.find(':', from);
        parts.push_back(arg.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    s.name = parts[0];
    if (parts.size() > 1) s.action = parts[1];
    if (parts.size() > 2 && !parts[2].empty()) s.cost = std::strtoull(parts[2].c_str(), nullptr, 10);
    if (parts.size() > 3 && !parts[3].empty()) s.after = std::strtol(parts[3].c_str(), nullptr, 10);
    return s;
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

void task(const std::string &arg, std::FILE *data) {
    const Spec s = parse(arg);
    std::printf("begin %s (%zu bytes)\n", s.name.c_str(), arg.size());
    if (s.action == "stop") craq::fatalExit(craq::Stream::out, "task " + s.name + " stopped\n");
    craq::FileSet files;
    std::FILE *fp = files.createOrStop(folder + "out/" + s.name + ".txt", "cannot store " + s.name);
    std::fprintf(fp, "%s\n", s.name.c_str());
    if (s.action == "kill" && inWorker) {
        const std::string marker = folder + "killed-" + s.name;
        if (!exists(marker)) {
            std::ofstream(marker) << "x\n";
            std::fflush(nullptr);
            raise(SIGKILL);
        }
    }
    if (s.action == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (s.action.compare(0, 5, "term=") == 0 && inWorker) {
        const std::string pidFile = folder + s.action.substr(5) + ".pid";
        for (int k = 0; k < 500 && !exists(pidFile); k++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        long pid = 0;
        std::ifstream(pidFile) >> pid;
        // Give the other worker time to send its result and wait idle.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (pid > 0) kill(static_cast<pid_t>(pid), SIGTERM);
    }
    files.commitOrStop();
    std::printf("stored %s\n", s.name.c_str());
    std::fprintf(stderr, "note %s\n", s.name.c_str());
    if (data != nullptr) std::fprintf(data, "line %s\n", s.name.c_str());
    if (s.action == "stopafter") craq::fatalExit(craq::Stream::out, "task " + s.name + " stopped after\n");
    if (s.action == "pid" && inWorker) {
        std::fflush(nullptr);
        std::ofstream(folder + s.name + ".pid.tmp") << getpid() << "\n";
        std::rename((folder + s.name + ".pid.tmp").c_str(), (folder + s.name + ".pid").c_str());
    }
}

}  // namespace

int main(int argc, char **argv) {
    craq::allowWorkerProcesses(argc, argv);
    if (argc < 2) return 2;
    folder = argv[1];
    inWorker = std::getenv("CRAQ_WORKER_CHANNEL") != nullptr;
    craq::serveIfWorker(task);

    std::vector<Spec> specs;
    craq::OrderedRun run;
    for (int i = 2; i < argc; i++) {
        if (argv[i][0] == '@') {
            std::ifstream in(argv[i] + 1);
            for (std::string line; std::getline(in, line);) run.args.push_back(line);
        } else {
            run.args.push_back(argv[i]);
        }
    }
    for (const std::string &arg : run.args) specs.push_back(parse(arg));
    bool costs = false, afters = false;
    for (const Spec &s : specs) {
        costs = costs || s.cost > 0;
        afters = afters || s.after >= 0;
    }
    for (const Spec &s : specs) {
        if (costs) run.cost.push_back(s.cost);
        if (afters) run.after.push_back(s.after);
    }
    // The data stream is a stored file, as the training's template lines are.
    craq::FileSet dataFile;
    run.data = dataFile.createOrStop(folder + "data.txt", "cannot write the data file");
    run.done = [&specs](std::size_t i) { std::printf("done %s\n", specs[i].name.c_str()); };
    craq::runInOrder(run, task);
    dataFile.commitOrStop();
    craq::endProcess(0);
}
