#pragma once

#include <atomic>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/CommandOptions.h"

namespace velmora {
class JobControl;
}

// Command-line mode: "-c LAS... ARCHIVE" compresses, "-d [ENTRY...] ARCHIVE"
// extracts into the current folder (or the folder of -o), "-l ARCHIVE" lists
// the entries; options come before the switch. Core only, no window.

enum class CommandMode { CompressMode, DecompressMode };

// Where command-line mode talks to its user; a test puts its own in place
// of the terminal.
class CommandLineConsole {
public:
    virtual ~CommandLineConsole() = default;
    // A message the window would show in a message box.
    virtual void Show(const std::string& text) = 0;
    // A question with OK and Cancel: true for OK.
    virtual bool AskOkCancel(const std::string& text) = 0;
    // What the user asked to see (a listing, the help text): standard output.
    virtual void Print(const std::string& text) = 0;
    // True when a progress line can be shown: it goes where messages go, and
    // only onto a terminal.
    virtual bool ShowsProgress() { return false; }
    // Writes part of a progress line, as it is.
    virtual void WriteProgress(const std::string& text) { (void)text; }
    // Width of the terminal the progress line is drawn on.
    virtual std::size_t Columns() { return 80; }
};

// Messages on standard error; questions answered on the terminal ("y" is
// OK), Cancel when standard input is not a terminal; a progress line while
// standard error is a terminal.
class TerminalConsole : public CommandLineConsole {
public:
    void Show(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    void Print(const std::string& text) override;
    bool ShowsProgress() override;
    void WriteProgress(const std::string& text) override;
    std::size_t Columns() override;
};

// What a run of RunCommandLine came to.
enum class CommandOutcome {
    Done,       // the job ran to its end (also when it had nothing to do)
    ShowUsage,  // not a job, declined, or a failure already shown
    Exit,       // a file could not be opened: shown, end without the usage text
};

// The text after the last "." of the path's file name, without the dot;
// empty when there is none.
std::string ExtensionOf(const std::string& path);

// True for the command lines that open the window: none, or one archive.
bool IsWindowCommandLine(int argc, const char* const* argv);

std::string UsageText(const std::string& programPath);
// --help: the usage text, the listing switch, every option, the exit statuses.
std::string HelpText(const std::string& programPath);
// --version: "velmora 1.2.3".
std::string VersionText();

// Turns SIGINT, SIGTERM and SIGHUP into the same stop request as Abort in
// the window: the job in hand undoes its current change and ends. A second
// signal ends the process at once. Lives for one command-line run.
class CSignalStop {
public:
    // keepBlocked: the signals stay blocked once it ends, for a program that
    // exits next. A signal that comes after the job is over has nothing to
    // stop; unblocked, it would end a finished command, its files complete,
    // with the signal's status instead of success.
    explicit CSignalStop(bool keepBlocked = false);
    ~CSignalStop();
    CSignalStop(const CSignalStop&) = delete;
    CSignalStop& operator=(const CSignalStop&) = delete;
    // The job a signal stops, by its control (null: none at the moment).
    void Attach(velmora::JobControl* control);
    bool Signalled() const { return signalled.load(); }

private:
    void Watch();

    sigset_t watched{};
    sigset_t previousMask{};
    bool keepBlocked = false;
    std::mutex mutex;
    velmora::JobControl* target = nullptr;
    std::atomic<bool> signalled{false};
    int signalFd = -1;  // the watched signals, read as they come
    int wakeFd = -1;    // written once the job is over, so the watcher ends at once
    std::thread watcher;
};

// args[0] is the program path, args[1] the switch, the last the archive.
// stopSignals, when given, stops the job on SIGINT, SIGTERM and SIGHUP.
CommandOutcome RunCommandLine(CommandMode mode, const std::vector<std::string>& args,
                              CommandLineConsole& console, CSignalStop* stopSignals = nullptr,
                              const CommandOptions& options = {});

// "-l ARCHIVE": the archive's entries on standard output, as a table or
// (--json) as one JSON document.
CommandOutcome RunListing(const std::vector<std::string>& args, const CommandOptions& options,
                          CommandLineConsole& console);

// Runs a command line that is not a window command line and returns the
// process exit status: 0 when the job ran to its end (or help or the version
// was asked for), 255 otherwise.
int DispatchCommandLine(int argc, const char* const* argv, CommandLineConsole& console,
                        CSignalStop* stopSignals = nullptr);
int DispatchCommandLine(int argc, const char* const* argv);
