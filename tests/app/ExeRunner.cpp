#include "ExeRunner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace exetest {

namespace {

std::vector<char*> Argv(const std::vector<std::string>& args, std::string& program,
                        const std::string& chosen = {}) {
    program = chosen.empty() ? ExePath() : chosen;
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

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A temporary file that collects one output stream of the program.
class Capture {
public:
    Capture() : fd(mkstemp(path)) {}
    ~Capture() { std::remove(path); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    int Fd() const { return fd; }
    // What has arrived so far, while the program still runs.
    std::string Peek() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Text() {
        close(fd);
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    char path[32] = "/tmp/velmora-output-XXXXXX";
    int fd;
};

ExeResult RunOnTerminal(const std::string& cwd, const std::vector<std::string>& args,
                        const std::string& typed, const std::string& trigger, int signal) {
    std::string program;
    auto argv = Argv(args, program);
    int master = -1;
    winsize size{};
    size.ws_row = 40;
    size.ws_col = kTerminalColumns;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        execv(argv[0], argv.data());
        _exit(121);
    }
    ExeResult r;
    if (pid < 0) return r;
    // The terminal keeps the typed line until the program reads it.
    if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return r;
    bool signalled = trigger.empty();
    char buf[4096];
    for (;;) {
        // A program that waits for an answer nobody typed must fail the
        // test, not hang it.
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 1000) == 0) {
            if (SecondsSince(start) < kTerminalTimeout) continue;
            kill(pid, SIGKILL);
            r.err += "\n[killed: no end after " + std::to_string(kTerminalTimeout) + " s]";
            break;
        }
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) {
            r.err.append(buf, static_cast<std::size_t>(n));
            if (!signalled && r.err.find(trigger) != std::string::npos) {
                signalled = true;
                kill(pid, signal);
            }
        } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        } else {
            break;  // EIO once the program has ended
        }
    }
    close(master);
    r.status = StatusOf(pid);
    r.seconds = SecondsSince(start);
    return r;
}

}  // namespace

std::string ExePath() { return VELMORA_EXE; }
#ifdef VELMORA_FAULTS_EXE
std::string FaultsExePath() { return VELMORA_FAULTS_EXE; }
#else
std::string FaultsExePath() { return ExePath(); }
#endif

ExeResult Velmora(const std::string& cwd, const std::vector<std::string>& args,
                  const RunOptions& options) {
    Spawned run(cwd, args, options);
    return run.Wait();
}

struct Spawned::Captures {
    Capture out, err;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

Spawned::Spawned(const std::string& cwd, const std::vector<std::string>& args,
                 const RunOptions& options)
    : captures(std::make_unique<Captures>()) {
    std::string program;
    auto argv = Argv(args, program, options.program);
    pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        if (chdir(cwd.c_str()) != 0 || devNull < 0) _exit(120);
        dup2(devNull, 0);
        dup2(captures->out.Fd(), 1);
        dup2(captures->err.Fd(), 2);
        for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
        if (options.gid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(options.gid)) != 0)) {
            _exit(122);
        }
        if (options.uid >= 0 && setuid(static_cast<uid_t>(options.uid)) != 0) _exit(122);
        execv(argv[0], argv.data());
        _exit(121);
    }
}

Spawned::~Spawned() {
    if (!waited && pid > 0) {
        kill(pid, SIGKILL);
        Wait();
    }
}

std::string Spawned::ErrorSoFar() const { return waited ? std::string() : captures->err.Peek(); }

void Spawned::Signal(int sig) const {
    if (pid > 0) kill(pid, sig);
}

ExeResult Spawned::Wait() {
    ExeResult r;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) break;
    }
    waited = true;
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) endSignal = WTERMSIG(status);
    r.seconds = SecondsSince(captures->start);
    r.out = captures->out.Text();
    r.err = captures->err.Text();
    return r;
}

bool Spawned::EndsWithin(double seconds, ExeResult& result) {
    while (SecondsSince(captures->start) < seconds) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            result = Wait();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Signal(SIGKILL);
    result = Wait();
    return false;
}

ExeResult VelmoraOnTerminal(const std::string& cwd, const std::vector<std::string>& args,
                            const std::string& typed) {
    return RunOnTerminal(cwd, args, typed, "", 0);
}

ExeResult VelmoraOnTerminalSignalled(const std::string& cwd, const std::vector<std::string>& args,
                                     const std::string& trigger, int signal) {
    return RunOnTerminal(cwd, args, "", trigger, signal);
}

}  // namespace exetest
