#pragma once

#include <string>
#include <vector>

namespace exetest {

struct ExeResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string err;  // standard error (with a terminal: everything it printed)
};

// Runs the velmora executable in folder `cwd` with `args` after the program
// path, standard input not a terminal.
ExeResult Velmora(const std::string& cwd, const std::vector<std::string>& args);

// The same with a terminal as standard input, standard output and standard
// error; `typed` is what the user types.
ExeResult VelmoraOnTerminal(const std::string& cwd, const std::vector<std::string>& args,
                      const std::string& typed);

std::string ExePath();

}  // namespace exetest
