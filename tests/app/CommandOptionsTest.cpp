#include <gtest/gtest.h>

#include "app/CommandOptions.h"

namespace {

using Args = std::vector<std::string>;

ParsedCommandLine Parse(Args args) {
    args.insert(args.begin(), "velmora");
    return ParseCommandLine(args);
}

TEST(CommandOptions, WithoutOptionsTheJobGetsTheCommandLineAsTyped) {
    for (const Args& args : {Args{"-c", "a.las", "x.vmra"}, Args{"-d", "x.vmra"}, Args{"-l", "x.vmra"},
                             Args{"-c"}, Args{"-d", "-q", "x.vmra"}}) {
        const ParsedCommandLine p = Parse(args);
        ASSERT_TRUE(p.valid) << args[0];
        Args expected = args;
        expected.insert(expected.begin(), "velmora");
        EXPECT_EQ(p.jobArgs, expected);
    }
    EXPECT_EQ(Parse({"-c", "a.las", "x.vmra"}).job, CommandSwitch::Compress);
    EXPECT_EQ(Parse({"-d", "x.vmra"}).job, CommandSwitch::Decompress);
    EXPECT_EQ(Parse({"-l", "x.vmra"}).job, CommandSwitch::List);
}

TEST(CommandOptions, EveryUsualSpellingOfAnOptionIsRead) {
    const std::vector<Args> spellings = {
        {"-y", "-q", "-j", "4"}, {"-yq", "-j4"}, {"-qyj", "4"}, {"--threads", "4", "-y", "-q"},
        {"--threads=4", "-qy"},
    };
    for (Args args : spellings) {
        args.insert(args.end(), {"-c", "a.las", "x.vmra"});
        const ParsedCommandLine p = Parse(args);
        ASSERT_TRUE(p.valid) << args[0];
        EXPECT_EQ(p.options.threads, 4) << args[0];
        EXPECT_TRUE(p.options.yes) << args[0];
        EXPECT_TRUE(p.options.quiet) << args[0];
        EXPECT_EQ(p.jobArgs, (Args{"velmora", "-c", "a.las", "x.vmra"})) << args[0];
    }
    for (const Args& args : {Args{"-o", "out dir", "-d", "x.vmra"}, Args{"-oout dir", "-d", "x.vmra"}}) {
        const ParsedCommandLine p = Parse(args);
        ASSERT_TRUE(p.valid) << args[0];
        EXPECT_EQ(p.options.outputFolder, "out dir");
        EXPECT_EQ(p.jobArgs, (Args{"velmora", "-d", "x.vmra"}));
    }
    const ParsedCommandLine json = Parse({"--json", "-l", "x.vmra"});
    ASSERT_TRUE(json.valid);
    EXPECT_TRUE(json.options.json);
    // The last of a repeated option counts.
    EXPECT_EQ(Parse({"-j", "2", "-j", "3", "-d", "x.vmra"}).options.threads, 3);
}

TEST(CommandOptions, ThreadCountsArePositiveWholeNumbersUpToTheLimit) {
    for (const std::string n : {"1", "64", "007"}) {
        const ParsedCommandLine p = Parse({"-j", n, "-d", "x.vmra"});
        EXPECT_TRUE(p.valid) << n;
        EXPECT_EQ(p.options.threads, std::stoi(n)) << n;
    }
    for (const std::string n : {"0", "65", "-1", "+2", "4x", " 4", "", "1000", "99999999999"}) {
        EXPECT_FALSE(Parse({"-j", n, "-d", "x.vmra"}).valid) << "'" << n << "'";
        EXPECT_FALSE(Parse({"--threads=" + n, "-d", "x.vmra"}).valid) << "'" << n << "'";
    }
}

TEST(CommandOptions, MalformedUnknownAndMisplacedOptionsMakeNoCommandLine) {
    const std::vector<Args> bad = {
        {"-x", "-c", "a.las", "x.vmra"},     // unknown short option
        {"-yx", "-c", "a.las", "x.vmra"},    // unknown in a cluster
        {"--bogus", "-l", "x.vmra"},         // unknown long option
        {"--", "-l", "x.vmra"},              // no option name
        {"-", "-l", "x.vmra"},               // a lone dash
        {"--json=1", "-l", "x.vmra"},        // a value for an option that takes none
        {"--threads"},                       // value missing at the end
        {"-o", "", "-d", "x.vmra"},          // empty folder
        {"-q"},                              // options but no switch
        {},                                  // nothing at all
        {"x.vmra", "-l", "x.vmra"},          // not an option before the switch
        {"-C", "a.las", "x.vmra"},           // switches are compared with case
        {"--c", "a.las", "x.vmra"},
    };
    for (const Args& args : bad) {
        EXPECT_FALSE(Parse(args).valid) << (args.empty() ? "(none)" : args[0]);
    }
    // The value of -j is the next argument even when it looks like a switch.
    EXPECT_FALSE(Parse({"-j", "-c", "a.las", "x.vmra"}).valid);
}

TEST(CommandOptions, AnOptionIsRefusedWithASwitchItDoesNotGoWith) {
    const std::vector<Args> refused = {
        {"-o", "out", "-c", "a.las", "x.vmra"}, {"-o", "out", "-l", "x.vmra"},
        {"-y", "-d", "x.vmra"},                 {"-y", "-l", "x.vmra"},
        {"-q", "-l", "x.vmra"},                 {"-j", "2", "-l", "x.vmra"},
        {"--json", "-c", "a.las", "x.vmra"},    {"--json", "-d", "x.vmra"},
    };
    for (const Args& args : refused) {
        EXPECT_FALSE(Parse(args).valid) << args[0] << " " << args[args.size() - 2];
    }
    const std::vector<Args> accepted = {
        {"-o", "out", "-d", "x.vmra"}, {"-y", "-c", "a.las", "x.vmra"}, {"-q", "-d", "x.vmra"},
        {"-j", "2", "-c", "a.las", "x.vmra"}, {"--json", "-l", "x.vmra"},
    };
    for (const Args& args : accepted) EXPECT_TRUE(Parse(args).valid) << args[0];
}

TEST(CommandOptions, HelpAndVersionStandAloneOrWithAnySwitch) {
    for (const Args& args : {Args{"-h"}, Args{"--help"}, Args{"-qh"}, Args{"-h", "-l", "x.vmra"},
                             Args{"--help", "-o", "out", "-c", "a.las", "x.vmra"}}) {
        const ParsedCommandLine p = Parse(args);
        EXPECT_TRUE(p.valid) << args[0];
        EXPECT_TRUE(p.options.help) << args[0];
    }
    const ParsedCommandLine v = Parse({"--version"});
    EXPECT_TRUE(v.valid);
    EXPECT_TRUE(v.options.version);
    EXPECT_FALSE(Parse({"--help", "-x"}).valid) << "an unknown option is still wrong";
}

}  // namespace
