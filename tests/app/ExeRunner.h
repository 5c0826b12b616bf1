#pragma once

#include <memory>
#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace exetest {

struct ExeResult {
    int status = -1;     // exit status, or -1 when the program did not exit normally
    std::string err;     // standard error (with a terminal: everything it printed)
    std::string out;     // standard output (empty with a terminal: it is in err)
    double seconds = 0;  // wall time of the run
};

// How a run differs from the test's own process: another user (uid and gid
// >= 0, which needs root), variables set for it alone.
struct RunOptions {
    int uid = -1;
    int gid = -1;
    std::vector<std::pair<std::string, std::string>> environment;
    // The program to run: the shipped one unless a test names another.
    std::string program;
};

// Runs the velmora executable in folder `cwd` with `args` after the program
// path, standard input not a terminal.
ExeResult Velmora(const std::string& cwd, const std::vector<std::string>& args,
                  const RunOptions& options = {});

// The same with a terminal of kTerminalColumns columns as standard input,
// standard output and standard error; `typed` is what the user types.
ExeResult VelmoraOnTerminal(const std::string& cwd, const std::vector<std::string>& args,
                      const std::string& typed);

// On a terminal, sends `signal` to the program once it has printed `trigger`.
ExeResult VelmoraOnTerminalSignalled(const std::string& cwd, const std::vector<std::string>& args,
                                     const std::string& trigger, int signal);

inline constexpr int kTerminalColumns = 120;
// A run on a terminal that has not ended after this many seconds is killed
// (status -1).
inline constexpr int kTerminalTimeout = 60;

std::string ExePath();
// The same program built to obey VELMORA_FAULT, for tests that plant faults
// in a real run (the shipped one ignores the setting).
std::string FaultsExePath();

// A velmora process started in the background (standard input not a
// terminal), so a test can signal it or run another one beside it.
class Spawned {
public:
    Spawned(const std::string& cwd, const std::vector<std::string>& args,
            const RunOptions& options = {});
    ~Spawned();
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    void Signal(int sig) const;
    // What the program has written to standard error so far.
    std::string ErrorSoFar() const;
    // Waits for the end. A signal that ended it is kept in EndedBySignal().
    ExeResult Wait();
    // Waits at most seconds; false (the process is then killed) when it
    // had not ended by then.
    bool EndsWithin(double seconds, ExeResult& result);
    int EndedBySignal() const { return endSignal; }

private:
    struct Captures;
    std::unique_ptr<Captures> captures;
    pid_t pid = -1;
    int endSignal = 0;
    bool waited = false;
};

}  // namespace exetest
