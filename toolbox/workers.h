// Folder commands on every core: an ordered run of per-image tasks in
// worker processes.
//
// A folder command (store a folder, train from a folder or a list) runs the
// same per-image code once per image.  runInOrder gives the images to
// worker processes, each a fresh start of the same program (so the image
// library is started in each worker, never used across a fork), and puts
// their results out strictly in listing order, as one process would:
//   - each task's standard output and standard error are captured by the
//     process that runs the runs and printed in task order;
//   - the files a task stores (toolbox/safefile.h groups) are prepared by
//     the worker and moved into place by the running process in task
//     order, at the same point of the task's output as in one process;
//   - what a task writes to its data stream (template lines) is appended to
//     the run's data stream in task order;
//   - a task that stops its process (an error stop) stops the run at its
//     place: the tasks before it are complete, its own output is printed,
//     nothing after it is written, and the run ends with the same exit
//     status;
//   - a worker killed by a signal loses only its task, which runs again in
//     the running process at its turn (a task that kills its process then
//     kills the run there, as in one process); when no worker is left, the
//     rest of the tasks run in the running process;
//   - each task's report is on standard output before the next task's
//     files are put in place (toolbox/safefile.h holdStopsUntilReported).
// At most four tasks per worker are handed out or finished but not yet put
// out (the window; within it the costliest task goes first), so memory
// stays bounded by the workers' own peaks.  A stopping signal to the run
// ends the workers first (their temporary files go with them), then removes
// the run's own.
//
// Number of workers: the environment variable CRAQ_WORKERS when it holds a
// whole number from 1 on, else the CPUs the process may run on (its
// affinity mask); never more than the tasks.  One worker, a single task, or
// a program that did not allow worker processes runs the tasks in the
// process itself, one after the other.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace craq {

// The per-task code: arg names the task (an image path); data is the
// stream its data lines go to (null when the run has none).  It may end
// the process (fatalExit); it is run alike in the process and in workers.
using TaskFunction = std::function<void(const std::string &arg, std::FILE *data)>;

struct OrderedRun {
    std::vector<std::string> args;  // one task per entry, in order
    // after[i]: an earlier task that must be put out before task i starts
    // (its files are read by task i), or -1; empty: none.
    std::vector<long> after;
    // cost[i]: what task i is expected to cost (an image's file size), or
    // empty.  Of the tasks within the window, the costliest is handed out
    // first, so a large image late in the list does not run alone at the
    // end; the output order stays the listing order.
    std::vector<unsigned long long> cost;
    std::FILE *data = nullptr;
    // Called in order, in the running process, once task i is put out.
    std::function<void(std::size_t i)> done;
};

// Called by a program's main with its arguments before anything else:
// lets its folder commands start workers (the same program with the same
// arguments).  Library code in other programs (the tests) runs in process.
void allowWorkerProcesses(int argc, char **argv);

// The number of worker processes a run would use for count tasks.
int workerCount(std::size_t count);

// The size of each file of paths (0 for one that cannot be read), as the
// costs of a run over them.
std::vector<unsigned long long> fileSizes(const std::vector<std::string> &paths);

// In a worker process: serves tasks with task and ends the process, never
// returning.  Elsewhere returns at once.  A command calls it first, before
// it prints or reads anything, with the same per-task code it gives
// runInOrder.
void serveIfWorker(const TaskFunction &task);

// Runs task on every argument of run as described above.
void runInOrder(const OrderedRun &run, const TaskFunction &task);

}  // namespace craq
