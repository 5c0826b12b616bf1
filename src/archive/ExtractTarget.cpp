#include "archive/ExtractTarget.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "las/FileIo.h"
#include "las/LasException.h"
#include "las/LasMessages.h"

namespace {

std::atomic<bool> forceNamed{false};

[[noreturn]] void Fail(const Failure& message, int error) { throw CLasException(message, false, error); }

// A hidden name in folder that is new with high odds; whoever uses it still
// creates it exclusively and tries another when it is taken.
std::string ScratchName(const std::string& folder) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = folder + ".velmora-";
    for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    return name + ".partial";
}

// How often a fresh scratch name is tried before the folder is given up on.
constexpr int kNameAttempts = 100;

// The answers of a kernel or file system without unnamed files.
bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

}  // namespace

void CExtractTarget::ForceNamedFile(bool on) { forceNamed.store(on); }

CExtractTarget::CExtractTarget(const std::string& outputPath) : outputPath(outputPath) {
    const auto slash = outputPath.rfind('/');
    if (slash != std::string::npos) folder = outputPath.substr(0, slash + 1);
    if (!forceNamed.load()) {
        // The kernel applies the umask to 0666, as for any new file.
        fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd < 0 && !NoUnnamedFiles(errno)) Fail(lasmsg::kWriteOpen, errno);
        if (fd >= 0) {
            writePath = "/proc/self/fd/" + std::to_string(fd);
            // Without /proc the file could be neither written by path nor named.
            if (::access(writePath.c_str(), F_OK) != 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    if (fd < 0) OpenNamed();
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail(lasmsg::kWriteOpen, errno);
    createdMode = st.st_mode & 07777;
    // The file is opened again by path to be written: a umask that takes
    // the owner's own write permission away must not keep it from that. The
    // umask's mode is put back when the file is named.
    if ((createdMode & 0600) != 0600 && ::fchmod(fd, createdMode | 0600) != 0) {
        Fail(lasmsg::kWriteOpen, errno);
    }
}

void CExtractTarget::OpenNamed() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string path = ScratchName(folder);
        // Never through a link someone left under that name.
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            writePath = path;
            named = true;
            return;
        }
        if (errno != EEXIST) Fail(lasmsg::kWriteOpen, errno);
    }
    Fail(lasmsg::kWriteOpen, EEXIST);
}

CExtractTarget::~CExtractTarget() {
    if (named && !committed) ::unlink(writePath.c_str());
    if (fd >= 0) ::close(fd);
}

void CExtractTarget::TakeOverMode() {
    mode_t mode = createdMode;
    struct stat old {};
    // A link in the output's place lends nothing: it is replaced, not followed.
    if (::lstat(outputPath.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 0777;
        // Root hands the file back to whoever owned the one it replaces; on
        // a file system that lets not even root give files away it stays
        // root's.
        if (::geteuid() == 0) {
            const int kept = ::fchown(fd, old.st_uid, old.st_gid);
            (void)kept;
        }
    }
    if (::fchmod(fd, mode) != 0) Fail(lasmsg::kWriteOpen, errno);
}

void CExtractTarget::LinkUnderName() {
    if (::linkat(AT_FDCWD, writePath.c_str(), AT_FDCWD, outputPath.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno != EEXIST) Fail(lasmsg::kWriteOpen, errno);
    // A file of that name is there and is to be replaced: the new file gets
    // a name of its own for the moment a rename takes.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string scratch = ScratchName(folder);
        if (::linkat(AT_FDCWD, writePath.c_str(), AT_FDCWD, scratch.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            Fail(lasmsg::kWriteOpen, errno);
        }
        if (std::rename(scratch.c_str(), outputPath.c_str()) != 0) {
            const int error = errno;
            ::unlink(scratch.c_str());
            Fail(lasmsg::kWriteOpen, error);
        }
        return;
    }
    Fail(lasmsg::kWriteOpen, EEXIST);
}

void CExtractTarget::Commit() {
    TakeOverMode();
    // A success is never reported for data a power cut could still lose.
    if (::fsync(fd) != 0) Fail(lasmsg::kWritePoint, errno);
    if (named) {
        if (std::rename(writePath.c_str(), outputPath.c_str()) != 0) Fail(lasmsg::kWriteOpen, errno);
    } else {
        LinkUnderName();
    }
    committed = true;
    SyncFolderOf(outputPath);
}
