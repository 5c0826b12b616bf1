#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "ExeRunner.h"

namespace exetest {

// A velmora process started in the background, so a test can signal it or
// run another one beside it.
class Spawned {
public:
    Spawned(const std::string& cwd, const std::vector<std::string>& args);
    ~Spawned();
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    void Signal(int sig) const;
    // Waits for the end. status is -1 and signal set when a signal ended it.
    ExeResult Wait();
    // Waits at most seconds; false (the process is then killed) when it
    // had not ended by then.
    bool EndsWithin(double seconds, ExeResult& result);
    int EndedBySignal() const { return endSignal; }

private:
    pid_t pid = -1;
    std::string errPath;
    int endSignal = 0;
    bool waited = false;
};

}  // namespace exetest
