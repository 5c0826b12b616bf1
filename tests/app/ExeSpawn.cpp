#include "ExeSpawn.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace exetest {

Spawned::Spawned(const std::string& cwd, const std::vector<std::string>& args) {
    char path[] = "/tmp/velmora-spawned-XXXXXX";
    const int errFd = mkstemp(path);
    errPath = path;
    std::string program = ExePath();
    std::vector<char*> argv = {program.data()};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        if (chdir(cwd.c_str()) != 0 || devNull < 0) _exit(120);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(errFd, 2);
        execv(argv[0], argv.data());
        _exit(121);
    }
    close(errFd);
}

Spawned::~Spawned() {
    if (!waited && pid > 0) {
        kill(pid, SIGKILL);
        Wait();
    }
    std::remove(errPath.c_str());
}

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
    std::ifstream in(errPath, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    return r;
}

bool Spawned::EndsWithin(double seconds, ExeResult& result) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
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

}  // namespace exetest
