#include "ExeRunner.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace exetest {

namespace {

std::vector<char*> Argv(const std::vector<std::string>& args, std::string& program) {
    program = ExePath();
    std::vector<char*> argv = {program.data()};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int StatusOf(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ExePath() { return VELMORA_EXE; }

ExeResult Velmora(const std::string& cwd, const std::vector<std::string>& args) {
    char errPath[] = "/tmp/velmora-stderr-XXXXXX";
    const int errFd = mkstemp(errPath);
    std::string program;
    auto argv = Argv(args, program);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        if (chdir(cwd.c_str()) != 0 || devNull < 0) _exit(120);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(errFd, 2);
        execv(argv[0], argv.data());
        _exit(121);
    }
    ExeResult r;
    r.status = StatusOf(pid);
    close(errFd);
    std::ifstream in(errPath, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(errPath);
    return r;
}

ExeResult VelmoraOnTerminal(const std::string& cwd, const std::vector<std::string>& args,
                      const std::string& typed) {
    std::string program;
    auto argv = Argv(args, program);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        execv(argv[0], argv.data());
        _exit(121);
    }
    ExeResult r;
    if (pid < 0) return r;
    // The terminal keeps the typed line until the program reads it.
    if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return r;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) {
            r.err.append(buf, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has ended
        }
    }
    close(master);
    r.status = StatusOf(pid);
    return r;
}

}  // namespace exetest
