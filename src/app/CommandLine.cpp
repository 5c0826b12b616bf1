#include "app/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/CommandLineMessages.h"
#include "app/EntryListing.h"
#include "app/ProgressLine.h"
#include "velmora/velmora.hpp"

// The command line is a program on the library like any other: it sees the
// archive, the engine and the jobs only through velmora/velmora.hpp.

using velmora::EscapeName;

namespace {

// Framework messages are cut to what a message box of the original shows.
constexpr std::size_t kMaxForeignMessage = 255;


std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ErrorOpeningFile(const std::string& path) {
    return std::string(climsg::kErrorOpeningFile) + EscapeName(path) + climsg::kErrorOpeningFileTail;
}

// The names of the current folder's ".las" files (any case), sorted so that
// a run does not depend on the order the file system lists them in.
std::vector<std::string> LasFilesInCurrentFolder() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(".")) {
        std::error_code ec;
        if (!e.is_regular_file(ec)) continue;
        const std::string name = e.path().filename().string();
        if (LowerAscii(ExtensionOf(name)) == "las") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Ties a job's control to the signal watcher for as long as the job lives.
class SignalAttachment {
public:
    SignalAttachment(CSignalStop* stopSignals, velmora::JobControl& control) : stopSignals(stopSignals) {
        if (stopSignals) stopSignals->Attach(&control);
    }
    ~SignalAttachment() {
        if (stopSignals) stopSignals->Attach(nullptr);
    }
    SignalAttachment(const SignalAttachment&) = delete;
    SignalAttachment& operator=(const SignalAttachment&) = delete;

private:
    CSignalStop* stopSignals;
};

bool CanOpenForReading(const std::string& path) {
    // A FIFO would make the test open wait for a writer forever; a folder
    // or device is no LAS file or archive either.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace

void TerminalConsole::Show(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool TerminalConsole::AskOkCancel(const std::string& text) {
    Show(text);
    // Nothing is overwritten without an answer someone typed.
    if (!isatty(STDIN_FILENO)) {
        Show(climsg::kNotATerminal);
        return false;
    }
    std::fputs(climsg::kAnswerPrompt, stderr);
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string answer = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    return answer == "y" || answer == "Y";
}

void TerminalConsole::Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

bool TerminalConsole::ShowsProgress() { return isatty(STDERR_FILENO) == 1; }

void TerminalConsole::WriteProgress(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

std::size_t TerminalConsole::Columns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNamePart(path);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool IsWindowCommandLine(int argc, const char* const* argv) {
    return argc <= 1 || (argc == 2 && argv[1] && LowerAscii(ExtensionOf(argv[1])) == "vmra");
}

std::string UsageText(const std::string& programPath) {
    return std::string(climsg::kUsageHead) + climsg::kUsageOpen + programPath +
           climsg::kUsageOpenTail + climsg::kUsageCompress + programPath +
           climsg::kUsageCompressTail + climsg::kUsageDecompress + programPath +
           climsg::kUsageDecompressTail;
}

std::string HelpText(const std::string& programPath) {
    return UsageText(programPath) + climsg::kUsageList + programPath + climsg::kUsageListTail +
           climsg::kUsageTest + programPath + climsg::kUsageTestTail + climsg::kHelpOptionsHead +
           OptionsHelpText() + climsg::kHelpTail;
}

std::string VersionText() { return std::string(climsg::kProgramName) + " " + VELMORA_VERSION + "\n"; }

namespace {

// What every job of the command line is given: the threads of -j, the
// control its signals stop, and the progress line (when there is one)
// started with each item and moved out of the way of each notice.
velmora::JobOptions CommonJobOptions(const CommandOptions& options, velmora::JobControl& control,
                                     CProgressLine* progress, CommandLineConsole& console) {
    velmora::JobOptions o;
    o.threads = std::max(0, options.threads);
    o.control = &control;
    o.itemStarted = [progress](const velmora::ItemStart& item) {
        if (progress) progress->Start(item);
    };
    o.notice = [progress, &console](const std::string& text) {
        if (progress) progress->Pause();
        console.Show(text);
        if (progress) progress->Resume();
    };
    return o;
}

// The command line's answers to the job's questions and its way of going on
// after each file: a compression ends at the first file that is not added; an
// extraction goes on past entries that cannot be given back (so every intact
// entry is saved) and ends at any other failure. With a progress line, every
// question and message waits until the line is out of the way.
class ConsoleJob {
public:
    ConsoleJob(CommandLineConsole& console, bool compress, const CommandOptions& options)
        : console(console), compress(compress), options(options) {}

    // The line to keep informed, and for extractions the stored size per LAS
    // byte of each entry, for the final figures (the engine's running ratio
    // is gone by then).
    void Follow(CProgressLine* line, std::map<std::string, double> entryRatios) {
        progress = line;
        ratios = std::move(entryRatios);
    }

    velmora::JobOptions Options(velmora::JobControl& control) {
        velmora::JobOptions o = CommonJobOptions(options, control, progress, console);
        o.extendedForAll = options.extended;
        o.confirmReplace = [this](const std::string& displayName) { return ConfirmReplace(displayName); };
        // Extraction replaces a file of the entry's name without asking, as
        // it always has on the command line.
        o.confirmOverwrite = [](const std::string&) { return true; };
        o.itemFinished = [this](const velmora::ItemReport& r) { return ItemFinished(r); };
        return o;
    }

private:
    bool ConfirmReplace(const std::string& displayName) {
        if (options.yes) return true;
        if (progress) progress->Pause();
        const bool ok = console.AskOkCancel(EscapeName(displayName) + climsg::kAlreadyInArchive);
        if (progress) progress->Resume();
        return ok;
    }
    bool ItemFinished(const velmora::ItemReport& r) {
        using velmora::Outcome;
        const bool succeeded = r.code == velmora::ErrorCode::Ok;
        if (progress) progress->Finish(succeeded, FinalRatio(r));
        if (r.outcome == Outcome::Stopped) return false;
        if (!r.message.empty()) console.Show(r.message);
        if (succeeded) return true;
        if (compress) return false;
        return r.outcome == Outcome::Damaged || r.outcome == Outcome::Refused;
    }
    double FinalRatio(const velmora::ItemReport& r) const {
        if (compress) {
            return r.lasBytes > 0 ? static_cast<double>(r.storedBytes) / static_cast<double>(r.lasBytes) : 0;
        }
        const auto it = ratios.find(r.name);
        return it == ratios.end() ? 0 : it->second;
    }

    CommandLineConsole& console;
    bool compress;
    const CommandOptions& options;
    CProgressLine* progress = nullptr;
    std::map<std::string, double> ratios;
};

// Stored size per LAS byte of every entry; empty when the archive cannot be
// listed (the extraction reports that itself).
std::map<std::string, double> EntryRatios(const std::string& archivePath) {
    std::map<std::string, double> ratios;
    try {
        for (const velmora::EntryInfo& e : velmora::Archive::At(archivePath).Entries()) {
            if (e.lasSize > 0) ratios[e.name] = static_cast<double>(e.storedSize) / static_cast<double>(e.lasSize);
        }
    } catch (const std::exception&) {
    }
    return ratios;
}

// On a terminal unless -q, the progress line that follows the job (null
// otherwise).
std::unique_ptr<CProgressLine> ProgressLineFor(velmora::JobControl& control, const CommandOptions& options,
                                               CommandLineConsole& console) {
    if (options.quiet || !console.ShowsProgress()) return nullptr;
    return std::make_unique<CProgressLine>(
        [&control] { return control.Status(); },
        [&console](const std::string& text) { console.WriteProgress(text); },
        [&console] { return console.Columns(); });
}

// Makes the folder of -o, with its parents. False (and said) when it cannot
// be made or a file stands in its place (which the library reports as an
// error too).
bool MakeOutputFolder(const std::string& folder, CommandLineConsole& console) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!ec) return true;
    console.Show(EscapeName(folder) + climsg::kCannotMakeFolder + " (" + ec.message() + ")");
    return false;
}

}  // namespace

CommandOutcome RunCommandLine(CommandMode mode, const std::vector<std::string>& args,
                              CommandLineConsole& console, CSignalStop* stopSignals,
                              const CommandOptions& options) {
    if (args.size() < 3) return CommandOutcome::ShowUsage;
    const std::size_t last = args.size() - 1;
    const bool compress = mode == CommandMode::CompressMode;

    std::vector<std::string> names;
    for (std::size_t i = 2; i < last; ++i) {
        const std::string& a = args[i];
        if (LowerAscii(ExtensionOf(a)) != "las") return CommandOutcome::ShowUsage;
        if (!compress) {
            names.push_back(a);
            continue;
        }
        // The pattern stands for the folder's files only when it is the one
        // file argument; among others it is a file name like any other.
        if (LowerAscii(a) == "*.las" && args.size() == 4) {
            names = LasFilesInCurrentFolder();
            break;
        }
        if (!CanOpenForReading(a)) {
            console.Show(ErrorOpeningFile(a));
            return CommandOutcome::Exit;
        }
        names.push_back(a);
    }

    const std::string& archivePath = args[last];
    if (LowerAscii(ExtensionOf(archivePath)) != "vmra") return CommandOutcome::ShowUsage;
    if (!compress && !CanOpenForReading(archivePath)) {
        console.Show(ErrorOpeningFile(archivePath));
        return CommandOutcome::Exit;
    }

    if (!compress && !options.outputFolder.empty() && !MakeOutputFolder(options.outputFolder, console)) {
        return CommandOutcome::Exit;
    }

    ConsoleJob job(console, compress, options);
    velmora::JobControl control;
    std::unique_ptr<CProgressLine> progress = ProgressLineFor(control, options, console);
    if (progress) {
        job.Follow(progress.get(), compress ? std::map<std::string, double>{} : EntryRatios(archivePath));
    }
    SignalAttachment attached(stopSignals, control);
    const velmora::JobOptions jobOptions = job.Options(control);
    velmora::JobReport report;
    if (compress) {
        report = velmora::Archive::Compress(names, archivePath, jobOptions);
    } else {
        // "*.las" as the first name stands for every entry.
        if (!names.empty() && LowerAscii(names.front()) == "*.las") names.clear();
        report = velmora::Archive::At(archivePath).Extract(names, options.outputFolder, jobOptions);
    }
    progress.reset();
    if (report.stopped) {
        console.Show(climsg::kStopped);
        return CommandOutcome::Exit;
    }
    return report.allSucceeded ? CommandOutcome::Done : CommandOutcome::ShowUsage;
}

namespace {

// -l of a LAS file: what it says of itself, nothing added anywhere.
CommandOutcome ListLasFile(const std::string& path, const CommandOptions& options, CommandLineConsole& console) {
    velmora::HeaderFacts facts;
    try {
        facts = velmora::ReadLasHeader(path);
    } catch (const velmora::Error& e) {
        console.Show(e.what());
        return CommandOutcome::Exit;
    }
    console.Print(options.json ? LasFileFactsJson(path, facts) : FormatLasFileFacts(path, facts));
    return CommandOutcome::Done;
}

// The header facts of every entry, each read from its own stored header; an
// entry whose header cannot be read says why and the others are still told.
std::vector<velmora::EntryHeader> HeadersOf(const velmora::Archive& archive, std::size_t count,
                                            CommandLineConsole& console) {
    std::vector<velmora::EntryHeader> headers;
    try {
        headers = archive.Headers();
    } catch (const velmora::Error& e) {
        // The archive changed between the listing and this reading of it.
        console.Show(e.what());
    }
    headers.resize(count);
    return headers;
}

}  // namespace

CommandOutcome RunListing(const std::vector<std::string>& args, const CommandOptions& givenOptions,
                          CommandLineConsole& console) {
    CommandOptions options = givenOptions;
    std::vector<std::string> rest(args.begin() + std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(args.size())),
                                  args.end());
    // "-l -v FILE", as people write it, as well as "-v -l FILE".
    if (rest.size() == 2 && (rest[0] == "-v" || rest[0] == "--verbose")) {
        options.verbose = true;
        rest.erase(rest.begin());
    }
    if (rest.size() != 1) return CommandOutcome::ShowUsage;
    const std::string& archivePath = rest[0];
    const std::string extension = LowerAscii(ExtensionOf(archivePath));
    if (extension != "vmra" && extension != "las") return CommandOutcome::ShowUsage;
    if (!CanOpenForReading(archivePath)) {
        console.Show(ErrorOpeningFile(archivePath));
        return CommandOutcome::Exit;
    }
    if (extension == "las") return ListLasFile(archivePath, options, console);
    // What reading the archive did on its way (an interrupted change undone,
    // a wait for another program) goes to standard error, as the jobs of the
    // other switches say it.
    const velmora::Archive archive =
        velmora::Archive::At(archivePath, [&console](const std::string& text) { console.Show(text); });
    std::vector<velmora::EntryInfo> entries;
    try {
        entries = archive.Entries();
    } catch (const velmora::Error& e) {
        // The command line was right; only the archive is at fault.
        console.Show(e.what());
        return CommandOutcome::Exit;
    }
    if (options.verbose) {
        const std::vector<velmora::EntryHeader> headers = HeadersOf(archive, entries.size(), console);
        console.Print(options.json ? EntryFactsJson(archivePath, entries, headers) : FormatEntryFacts(entries, headers));
        return CommandOutcome::Done;
    }
    console.Print(options.json ? EntryListingJson(archivePath, entries) : FormatEntryListing(entries));
    return CommandOutcome::Done;
}

namespace {

// The test's report: one line per entry on standard output, and a summary.
class TestReport {
public:
    explicit TestReport(CommandLineConsole& console) : console(console) {}

    velmora::JobOptions Options(const CommandOptions& options, velmora::JobControl& control) {
        velmora::JobOptions o = CommonJobOptions(options, control, progress, console);
        o.itemFinished = [this](const velmora::ItemReport& r) { return ItemFinished(r); };
        return o;
    }
    CProgressLine* progress = nullptr;

private:
    bool ItemFinished(const velmora::ItemReport& r) {
        using velmora::Outcome;
        if (progress) progress->Finish(r.code == velmora::ErrorCode::Ok, 0);
        const std::string name = EscapeName(r.name);
        switch (r.outcome) {
            case Outcome::Stopped:
                return false;
            case Outcome::Passed:
                console.Print(name + climsg::kTestOk + "\n");
                break;
            case Outcome::Unverified:
                console.Print(name + climsg::kTestNoChecksum + "\n");
                break;
            case Outcome::Damaged:
                console.Print(name + climsg::kTestDamaged + r.reason + "\n");
                break;
            default:
                // The archive itself could not be read: that is an error,
                // not a finding about one entry.
                if (r.aboutArchive) {
                    console.Show(r.message);
                } else {
                    console.Print(name + climsg::kTestFailed + r.reason + "\n");
                }
                break;
        }
        return true;
    }

    CommandLineConsole& console;
};

}  // namespace

// velmora -t ARCHIVE [ENTRY...]: the archive is the argument ending in
// ".vmra", the entries those ending in ".las" (all entries when none).
CommandOutcome RunTest(const std::vector<std::string>& args, const CommandOptions& options,
                       CommandLineConsole& console, CSignalStop* stopSignals) {
    std::string archivePath;
    std::vector<std::string> names;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string extension = LowerAscii(ExtensionOf(args[i]));
        if (extension == "vmra" && archivePath.empty()) {
            archivePath = args[i];
        } else if (extension == "las") {
            names.push_back(args[i]);
        } else {
            return CommandOutcome::ShowUsage;
        }
    }
    if (archivePath.empty()) return CommandOutcome::ShowUsage;
    if (!CanOpenForReading(archivePath)) {
        console.Show(ErrorOpeningFile(archivePath));
        return CommandOutcome::Exit;
    }
    TestReport report(console);
    velmora::JobControl control;
    std::unique_ptr<CProgressLine> progress = ProgressLineFor(control, options, console);
    report.progress = progress.get();
    SignalAttachment attached(stopSignals, control);
    const velmora::JobOptions jobOptions = report.Options(options, control);
    const velmora::JobReport summary = velmora::Archive::At(archivePath).Test(names, jobOptions);
    progress.reset();
    if (summary.stopped) {
        console.Show(climsg::kStopped);
        return CommandOutcome::Exit;
    }
    console.Print(summary.summary + "\n");
    return summary.allSucceeded ? CommandOutcome::Done : CommandOutcome::Exit;
}

int DispatchCommandLine(int argc, const char* const* argv, CommandLineConsole& console,
                        CSignalStop* stopSignals) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    const std::string program = args.empty() ? std::string("velmora") : args[0];

    const ParsedCommandLine command = ParseCommandLine(args);
    if (command.valid && command.options.help) {
        console.Print(HelpText(program));
        return 0;
    }
    if (command.valid && command.options.version) {
        console.Print(VersionText());
        return 0;
    }
    CommandOutcome outcome = CommandOutcome::ShowUsage;
    try {
        const auto& jobArgs = command.jobArgs;
        const CommandOptions& options = command.options;
        switch (command.valid ? command.job : CommandSwitch::None) {
            case CommandSwitch::Compress:
                outcome = RunCommandLine(CommandMode::CompressMode, jobArgs, console, stopSignals, options);
                break;
            case CommandSwitch::Decompress:
                outcome = RunCommandLine(CommandMode::DecompressMode, jobArgs, console, stopSignals, options);
                break;
            case CommandSwitch::List:
                outcome = RunListing(jobArgs, options, console);
                break;
            case CommandSwitch::Test:
                outcome = RunTest(jobArgs, options, console, stopSignals);
                break;
            case CommandSwitch::None:
                break;
        }
    } catch (const std::exception& e) {
        // Such texts may quote a path, which is shown like any other name.
        console.Show(EscapeName(std::string(e.what()).substr(0, kMaxForeignMessage)));
        outcome = CommandOutcome::ShowUsage;
    }
    if (outcome == CommandOutcome::ShowUsage) console.Show(UsageText(program));
    // Scripts must be able to tell a finished job from any failure.
    return outcome == CommandOutcome::Done ? 0 : 255;
}

int DispatchCommandLine(int argc, const char* const* argv) {
    TerminalConsole console;
    CSignalStop watcher(true);
    return DispatchCommandLine(argc, argv, console, &watcher);
}

CSignalStop::CSignalStop(bool keepBlocked) : keepBlocked(keepBlocked) {
    sigemptyset(&watched);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&watched, sig);
    signalFd = signalfd(-1, &watched, SFD_CLOEXEC);
    wakeFd = eventfd(0, EFD_CLOEXEC);
    // Without them no signal could be seen: the signals then keep their
    // default action and end the process, which the archive's journal
    // survives.
    if (signalFd < 0 || wakeFd < 0) return;
    // Blocked before any other thread starts, so every thread inherits the
    // mask and only the watcher below ever receives these stopSignals.
    pthread_sigmask(SIG_BLOCK, &watched, &previousMask);
    watcher = std::thread([this] { Watch(); });
}

CSignalStop::~CSignalStop() {
    if (watcher.joinable()) {
        // Woken, not polled: a command must not outlive its job by a tick.
        const uint64_t one = 1;
        while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        watcher.join();
        // A signal that came once the job was over, and that the watcher
        // did not read before it was woken, stops nothing; unblocked, it
        // would end a command whose work is done and whose archive is
        // complete with the signal's status instead of success.
        const timespec now{};
        while (sigtimedwait(&watched, nullptr, &now) > 0) {
        }
        if (!keepBlocked) pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    }
    if (signalFd >= 0) close(signalFd);
    if (wakeFd >= 0) close(wakeFd);
}

void CSignalStop::Attach(velmora::JobControl* control) {
    std::lock_guard<std::mutex> lock(mutex);
    target = control;
    // A signal that came before the job existed still stops it.
    if (target && signalled.load()) target->Stop();
}

void CSignalStop::Watch() {
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        signalfd_siginfo info{};
        if (read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
        const int sig = static_cast<int>(info.ssi_signo);
        if (signalled.exchange(true)) {
            // The second signal ends the process at once, as the user asked;
            // the archive's journal keeps even that safe.
            signal(sig, SIG_DFL);
            pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
            raise(sig);
            _exit(255);
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (target) target->Stop();
    }
}
