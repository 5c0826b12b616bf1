#include "app/CommandOptions.h"

#include <algorithm>
#include <cstring>

#include "app/CommandLineMessages.h"

namespace {

constexpr unsigned Bits(CommandSwitch s) { return static_cast<unsigned>(s); }
constexpr unsigned kCompress = Bits(CommandSwitch::Compress);
constexpr unsigned kDecompress = Bits(CommandSwitch::Decompress);
constexpr unsigned kList = Bits(CommandSwitch::List);
constexpr unsigned kTest = Bits(CommandSwitch::Test);
// Goes with any switch, or with none.
constexpr unsigned kAnySwitch = ~0u;

// A new job is one line here and its own run in the dispatch. Switches are
// compared exactly, with case.
struct SwitchSpec {
    const char* text;
    CommandSwitch job;
};
constexpr SwitchSpec kSwitches[] = {
    {"-c", CommandSwitch::Compress},
    {"-d", CommandSwitch::Decompress},
    {"-l", CommandSwitch::List},
    {"-t", CommandSwitch::Test},
};

bool ParseThreads(const std::string& text, int& threads) {
    // Digits only: no sign, no blanks, no "4x"; the length bound keeps the
    // value inside an int before it is compared.
    if (text.empty() || text.size() > 3) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int n = std::stoi(text);
    if (n < 1 || n > kMaxThreads) return false;
    threads = n;
    return true;
}

// A new option is one line here and a field of CommandOptions.
struct OptionSpec {
    char shortName;         // '\0' for none
    const char* longName;   // without the dashes; nullptr for none
    const char* valueName;  // nullptr when the option takes no value
    unsigned switches;      // the switches it goes with
    bool (*apply)(CommandOptions& o, const std::string& value);
    const char* help;
};
constexpr OptionSpec kOptions[] = {
    {'o', nullptr, "DIR", kDecompress,
     [](CommandOptions& o, const std::string& v) {
         o.outputFolder = v;
         return !v.empty();
     },
     climsg::kHelpOutput},
    {'j', "threads", "N", kCompress | kDecompress | kTest,
     [](CommandOptions& o, const std::string& v) { return ParseThreads(v, o.threads); },
     climsg::kHelpThreads},
    {'y', nullptr, nullptr, kCompress,
     [](CommandOptions& o, const std::string&) { return o.yes = true; }, climsg::kHelpYes},
    {'q', nullptr, nullptr, kCompress | kDecompress | kTest,
     [](CommandOptions& o, const std::string&) { return o.quiet = true; }, climsg::kHelpQuiet},
    {'\0', "extended", nullptr, kCompress,
     [](CommandOptions& o, const std::string&) { return o.extended = true; }, climsg::kHelpExtended},
    {'\0', "json", nullptr, kList,
     [](CommandOptions& o, const std::string&) { return o.json = true; }, climsg::kHelpJson},
    {'v', "verbose", nullptr, kList,
     [](CommandOptions& o, const std::string&) { return o.verbose = true; }, climsg::kHelpVerbose},
    {'h', "help", nullptr, kAnySwitch,
     [](CommandOptions& o, const std::string&) { return o.help = true; }, climsg::kHelpHelp},
    {'\0', "version", nullptr, kAnySwitch,
     [](CommandOptions& o, const std::string&) { return o.version = true; }, climsg::kHelpVersion},
};

const OptionSpec* ShortOption(char c) {
    for (const OptionSpec& o : kOptions) {
        if (o.shortName != '\0' && o.shortName == c) return &o;
    }
    return nullptr;
}

const OptionSpec* LongOption(const std::string& name) {
    for (const OptionSpec& o : kOptions) {
        if (o.longName && name == o.longName) return &o;
    }
    return nullptr;
}

const SwitchSpec* SwitchOf(const std::string& arg) {
    for (const SwitchSpec& s : kSwitches) {
        if (arg == s.text) return &s;
    }
    return nullptr;
}

// Reads the options in front of the switch, one argument (and perhaps its
// value) per call.
class COptionReader {
public:
    COptionReader(const std::vector<std::string>& args, ParsedCommandLine& out)
        : args(args), out(out) {}

    // Reads the option at args[i] and moves i past it; false when it is not
    // an option, not known, or lacks its value.
    bool ReadOne(std::size_t& i) {
        const std::string& arg = args[i++];
        if (arg.size() < 2 || arg[0] != '-') return false;
        if (arg[1] == '-') return ReadLong(arg.substr(2), i);
        // A cluster of short options; one that takes a value takes the rest
        // of the argument, or the next argument when nothing is left.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec* o = ShortOption(arg[k]);
            if (!o) return false;
            if (!o->valueName) {
                if (!Use(*o, "")) return false;
                continue;
            }
            if (k + 1 < arg.size()) return Use(*o, arg.substr(k + 1));
            return i < args.size() && Use(*o, args[i++]);
        }
        return true;
    }

    // True when every option read goes with the job.
    bool FitSwitch(CommandSwitch job) const { return (used & ~allowedFor(job)) == 0; }

private:
    bool ReadLong(const std::string& text, std::size_t& i) {
        const auto eq = text.find('=');
        const OptionSpec* o = LongOption(text.substr(0, eq));
        if (!o) return false;
        if (!o->valueName) return eq == std::string::npos && Use(*o, "");
        if (eq != std::string::npos) return Use(*o, text.substr(eq + 1));
        return i < args.size() && Use(*o, args[i++]);
    }

    bool Use(const OptionSpec& o, const std::string& value) {
        used |= 1u << static_cast<unsigned>(&o - kOptions);
        return o.apply(out.options, value);
    }

    // The options (as bits of their index) that go with a job.
    static unsigned allowedFor(CommandSwitch job) {
        unsigned mask = 0;
        for (std::size_t k = 0; k < std::size(kOptions); ++k) {
            if (kOptions[k].switches & Bits(job)) mask |= 1u << k;
        }
        return mask;
    }

    const std::vector<std::string>& args;
    ParsedCommandLine& out;
    unsigned used = 0;
};

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine out;
    COptionReader reader(args, out);
    std::size_t i = 1;
    const SwitchSpec* found = nullptr;
    while (i < args.size() && !(found = SwitchOf(args[i]))) {
        if (!reader.ReadOne(i)) return out;
    }
    const bool standalone = out.options.help || out.options.version;
    if (!found) {
        out.valid = standalone;
        return out;
    }
    out.job = found->job;
    if (!standalone && !reader.FitSwitch(out.job)) return out;
    out.valid = true;
    out.jobArgs.push_back(args.empty() ? std::string(climsg::kProgramName) : args[0]);
    out.jobArgs.insert(out.jobArgs.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return out;
}

std::string OptionsHelpText() {
    std::vector<std::pair<std::string, const char*>> lines;
    std::size_t width = 0;
    for (const OptionSpec& o : kOptions) {
        std::string names;
        const std::string value = o.valueName ? std::string(" ") + o.valueName : "";
        if (o.shortName != '\0') names += std::string("-") + o.shortName + value;
        if (o.longName) names += (names.empty() ? "--" : ", --") + std::string(o.longName) + value;
        width = std::max(width, names.size());
        lines.emplace_back(names, o.help);
    }
    std::string text;
    for (const auto& [names, help] : lines) {
        text += "  " + names + std::string(width - names.size() + 2, ' ') + help + "\n";
    }
    return text;
}
