// Command word, enumeration casts and option values.
#include <gtest/gtest.h>

#include <boost/program_options.hpp>

#include "isig/access_mode.h"
#include "istd/exception.h"
#include "istd/prog_opt_multi_val.h"
#include "istd/prog_opt_unsigned.h"
#include "rove_commands.h"

namespace po = boost::program_options;

namespace {

template <class E>
std::string CastFailure(const std::string& text) {
    try {
        istd::EnumCast<E>(text);
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(EnumCast, CommandsByNameOrNumber) {
    EXPECT_EQ(istd::EnumCast<Command_e>("info"), eInfo);
    EXPECT_EQ(istd::EnumCast<Command_e>("bench"), eBench);
    EXPECT_EQ(istd::EnumCast<Command_e>("1"), eDump);
    EXPECT_EQ(istd::EnumCast<Command_e>("5"), eBench);
    EXPECT_EQ(CastFailure<Command_e>("Info"), "Invalid integer value");
    EXPECT_EQ(CastFailure<Command_e>("a.b=5"), "Invalid integer value");
    EXPECT_EQ(CastFailure<Command_e>(""), "Invalid integer value");
    EXPECT_EQ(CastFailure<Command_e>(" 1"), "Invalid integer value");
    EXPECT_EQ(CastFailure<Command_e>("7"), "Invalid enum value");
    // The snapshot commands are chosen by name only: a number stays a path.
    EXPECT_EQ(istd::EnumCast<Command_e>("apply"), eApply);
    EXPECT_EQ(CastFailure<Command_e>("6"), "Invalid enum value");
    EXPECT_EQ(CastFailure<Command_e>("8"), "Invalid enum value");
    EXPECT_EQ(CastFailure<Command_e>("-1"), "Invalid enum value");
    // Would be 1 (dump) if the number were narrowed to 32 bits.
    EXPECT_EQ(CastFailure<Command_e>("4294967297"), "Invalid enum value");
    EXPECT_EQ(CastFailure<Command_e>("99999999999999999999"), "Invalid integer value");
}

TEST(EnumCast, AccessModes) {
    EXPECT_EQ(istd::EnumCast<isig::AccessMode_e>("Now"), isig::eNow);
    EXPECT_EQ(istd::EnumCast<isig::AccessMode_e>("SingleEvent"), isig::eSingleEvent);
    EXPECT_EQ(istd::EnumCast<isig::AccessMode_e>("13"), isig::eEvent);
    EXPECT_EQ(CastFailure<isig::AccessMode_e>("now"), "Invalid integer value");
    EXPECT_EQ(CastFailure<isig::AccessMode_e>("0"), "Invalid enum value");
    EXPECT_EQ(CastFailure<isig::AccessMode_e>("4294967306"), "Invalid enum value");
}

TEST(BiMap, RefusesSharedNamesOrValues) {
    using Pair = istd::BiMap<Command_e>::Pair;
    try {
        istd::BiMap<Command_e> map{Pair{eInfo, "x"}, Pair{eDump, "x"}};
        FAIL();
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid enum description table");
    }
    EXPECT_THROW((istd::BiMap<Command_e>{Pair{eInfo, "x"}, Pair{eInfo, "y"}}), istd::Exception);
}

// Runs the parser on the words after the program name.
struct Parsed {
    po::variables_map vm;
    std::vector<std::string> debug;
    std::vector<std::string> paths;
    std::uint32_t length = 80;
};

void Parse(const std::vector<const char*>& words, Parsed& parsed) {
    std::vector<const char*> argv{"velnor-rove"};
    argv.insert(argv.end(), words.begin(), words.end());
    po::options_description d;
    d.add_options()("debug,d", new istd::ProgOptMultiVal(&parsed.debug, 0, 2), "Debug")(
        "path,n", po::value<std::vector<std::string>>(&parsed.paths)->multitoken(),
        "Path")("max-length,m", istd::UnsignedOption<std::uint32_t>(&parsed.length), "Length");
    po::positional_options_description positional;
    positional.add("path", -1);
    po::store(po::command_line_parser(static_cast<int>(argv.size()), const_cast<char**>(argv.data()))
                  .options(d)
                  .positional(positional)
                  .run(),
              parsed.vm);
    po::notify(parsed.vm);
}

TEST(ProgOptMultiVal, CollectsUpToMaxTokens) {
    Parsed p;
    Parse({"--debug", "trace.log", "2", "a.b", "c"}, p);
    EXPECT_EQ(p.debug, (std::vector<std::string>{"trace.log", "2"}));
    EXPECT_EQ(p.paths, (std::vector<std::string>{"a.b", "c"}));
    EXPECT_EQ(p.vm.count("debug"), 1u);
}

TEST(ProgOptMultiVal, FewerTokensAndNone) {
    Parsed one;
    Parse({"x", "-d", "-"}, one);
    EXPECT_EQ(one.debug, (std::vector<std::string>{"-"}));
    Parsed none;
    Parse({"--debug"}, none);
    EXPECT_TRUE(none.debug.empty());
    EXPECT_EQ(none.vm.count("debug"), 1u);
}

TEST(ProgOptMultiVal, SecondOccurrenceFails) {
    Parsed p;
    try {
        Parse({"--debug", "a", "--debug", "b"}, p);
        FAIL();
    } catch (const po::error& e) {
        EXPECT_STREQ(e.what(), "Non-composing value with multiple occurrences.");
    }
    // Filled while parsing: the first occurrence's words are there.
    EXPECT_EQ(p.debug, (std::vector<std::string>{"a"}));
}

TEST(ProgOptMultiVal, Interface) {
    std::vector<std::string> target;
    istd::ProgOptMultiVal value(&target, 0, 2);
    EXPECT_EQ(value.name(), "arg");
    EXPECT_EQ(value.min_tokens(), 0u);
    EXPECT_EQ(value.max_tokens(), 2u);
    EXPECT_FALSE(value.is_composing());
    boost::any store;
    EXPECT_FALSE(value.apply_default(store));
    EXPECT_TRUE(store.empty());
}

TEST(UnsignedOption, RefusesNegativeNumbers) {
    Parsed ok;
    Parse({"--max-length", "0"}, ok);
    EXPECT_EQ(ok.length, 0u);
    Parsed negative;
    EXPECT_THROW(Parse({"--max-length", "-1"}, negative), po::invalid_option_value);
    EXPECT_EQ(negative.length, 80u);
    Parsed garbage;
    EXPECT_THROW(Parse({"-m", "12x"}, garbage), po::invalid_option_value);
}

// The command word, the default command and the help requests.
struct CommandRun {
    bool found = false;
    bool defaulted = false;
    RoveCommandParser::Command command;
    std::string out;
};

CommandRun FindCommand(const std::vector<const char*>& words) {
    std::vector<const char*> argv{"velnor-rove"};
    argv.insert(argv.end(), words.begin(), words.end());
    RoveCommandParser::CommandList commands;
    SetCommands(commands);
    LocalCommandParser parser(commands, "velnor-rove", eAccess);
    po::options_description own;
    po::options_description global;
    CommandRun run;
    ::testing::internal::CaptureStdout();
    run.found = parser.ParseCommand(static_cast<int>(argv.size()), const_cast<char**>(argv.data()), run.command, own,
                                    global, run.defaulted);
    run.out = ::testing::internal::GetCapturedStdout();
    return run;
}

TEST(ParseCommand, CommandWordsAndDefault) {
    struct Case {
        std::vector<const char*> words;
        Command_e id;
        bool defaulted;
        const char* description;
    };
    const Case cases[] = {
        {{"dump"}, eDump, false, "Dump the registry tree."},
        {{"1"}, eDump, false, "Dump the registry tree."},
        {{"bench"}, eBench, false, ""},
        {{"a.b.c=5"}, eAccess, true, "Access values of the registry nodes."},
        {{"7"}, eAccess, true, "Access values of the registry nodes."},
        {{"4294967297"}, eAccess, true, "Access values of the registry nodes."},
        {{"--host", "x"}, eAccess, true, "Access values of the registry nodes."},
    };
    for (const auto& c : cases) {
        const CommandRun run = FindCommand(c.words);
        EXPECT_TRUE(run.found) << c.words[0];
        EXPECT_EQ(run.command.id, c.id) << c.words[0];
        EXPECT_EQ(run.defaulted, c.defaulted) << c.words[0];
        EXPECT_EQ(run.command.description, c.description) << c.words[0];
        EXPECT_EQ(run.out, "") << c.words[0];
    }
}

TEST(ParseCommand, NoWordsAndUnknownHelp) {
    CommandRun none = FindCommand({});
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.out, "Type 'velnor-rove help' for usage.\n");
    CommandRun bogus = FindCommand({"help", "bogus"});
    EXPECT_FALSE(bogus.found);
    EXPECT_EQ(bogus.out, "ERROR: Unknown command bogus\n");
    EXPECT_EQ(FindCommand({"help", "help"}).out, FindCommand({"help"}).out);
}

TEST(ParseCommand, ListedCommandsOnlyInGeneralHelp) {
    const std::string out = FindCommand({"help"}).out;
    EXPECT_NE(out.find("\n  info" + std::string(13, ' ') + "   [Print info of the registry nodes.]\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n  signal" + std::string(11, ' ') + "   [Print out signal data.]\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("bench"), std::string::npos) << out;
}

}  // namespace
