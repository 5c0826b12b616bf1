#pragma once

#include <string>
#include <sys/types.h>

// The file an extraction writes. It has no name while it is written (an
// unnamed file in the output folder, reached through /proc/self/fd), so a
// process killed half way leaves nothing behind, and it takes the entry's
// name only once it is complete and on the disk. Where the system offers no
// unnamed files it is a hidden file of its own in the folder, removed again
// when the extraction fails or stops.
//
// A new file gets the permissions the umask gives; a file it replaces lends
// it its permission bits (never set-user-ID or set-group-ID) and, for root,
// its owner and group. Nothing is ever created or written through a link.
class CExtractTarget {
public:
    // outputPath: where the file is to end up (folder and name). Throws
    // CLasException(lasmsg::kWriteOpen) when the folder takes no new file.
    explicit CExtractTarget(const std::string& outputPath);
    ~CExtractTarget();
    CExtractTarget(const CExtractTarget&) = delete;
    CExtractTarget& operator=(const CExtractTarget&) = delete;

    // The path to open the file by, for writing and reading back, as often
    // as needed.
    const std::string& WritePath() const { return writePath; }
    // Puts the written file on the disk and gives it the output's name in
    // one step, replacing a file of that name.
    void Commit();

    // Tests only: every target made while this is on is a named hidden file,
    // as on a system without unnamed files.
    static void ForceNamedFile(bool on);

private:
    void OpenNamed();
    void TakeOverMode();
    void LinkUnderName();

    std::string outputPath;
    std::string folder;  // "" for the current folder, else ending in '/'
    std::string writePath;
    int fd = -1;
    bool named = false;      // writePath is a real name in the folder
    bool committed = false;
    mode_t createdMode = 0;  // what the umask gave the new file
};
