#pragma once

#include <string>
#include <vector>

// The jobs a command line can ask for, one bit each so that an option can
// name the switches it goes with.
enum class CommandSwitch : unsigned {
    None = 0,
    Compress = 1u << 0,    // -c
    Decompress = 1u << 1,  // -d
    List = 1u << 2,        // -l
    Test = 1u << 3,        // -t
};

// What the options before the switch asked for.
struct CommandOptions {
    std::string outputFolder;  // -o DIR; "" for the current folder
    int threads = 0;           // -j N; 0 leaves the engine's own default
    bool yes = false;          // -y
    bool quiet = false;        // -q
    bool json = false;         // --json
    bool verbose = false;      // -v, --verbose
    bool extended = false;     // --extended
    bool help = false;         // -h, --help
    bool version = false;      // --version
};

// Engine threads a user may ask for: every thread holds working arrays of a
// chunk's size, and a chunk has fewer rows than this to share out anyway.
inline constexpr int kMaxThreads = 64;

struct ParsedCommandLine {
    // False when the arguments do not form a command line: the usage text is
    // shown and the exit status is 255.
    bool valid = false;
    CommandSwitch job = CommandSwitch::None;
    CommandOptions options;
    // The program path, the switch and every argument after it: the command
    // line as it reads without its options.
    std::vector<std::string> jobArgs;
};

// Reads "[options] SWITCH ARGUMENTS..." (args[0] is the program path).
// Options follow the usual style: "-y -q", "-yq", "-j 4", "-j4", "--threads 4",
// "--threads=4". Everything from the switch on is left to the job, so a
// command line without options reaches it exactly as typed. An option that
// does not go with the switch makes the command line invalid; -h, --help and
// --version go with any switch, or none.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// One line per option, as --help lists them.
std::string OptionsHelpText();
