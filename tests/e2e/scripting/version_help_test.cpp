// --version of both programs, and --help as the help command.
#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/process.h"

namespace {

using velnor::test::BinPath;

using velnor::test::RunResult;

struct VersionCase {
    std::string name;
    std::string program;
};

std::ostream& operator<<(std::ostream& os, const VersionCase& c) { return os << c.name; }

class Version : public ::testing::TestWithParam<VersionCase> {};

TEST_P(Version, PrintsTheProjectVersion) {
    const RunResult r = velnor::test::Run({BinPath(GetParam().program), "--version"});
    EXPECT_EQ(r.out, GetParam().program + " " VELNOR_VERSION "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, Version,
                         ::testing::Values(VersionCase{"tool", "velnor-rove"},
                                           VersionCase{"server", "velnor-registryd"}),
                         velnor::test::NameOfCase());

class HelpOption : public ::testing::TestWithParam<std::vector<std::string>> {};

// The same text and status as the help command with the same words.
TEST_P(HelpOption, SameAsHelpCommand) {
    std::vector<std::string> option = {BinPath("velnor-rove"), "--help"};
    std::vector<std::string> command = {BinPath("velnor-rove"), "help"};
    option.insert(option.end(), GetParam().begin(), GetParam().end());
    command.insert(command.end(), GetParam().begin(), GetParam().end());
    const RunResult byOption = velnor::test::Run(option);
    const RunResult byCommand = velnor::test::Run(command);
    EXPECT_NE(byCommand.out, "");
    EXPECT_EQ(byOption.out, byCommand.out);
    EXPECT_EQ(byOption.err, byCommand.err);
    EXPECT_EQ(byOption.status, byCommand.status);
    EXPECT_EQ(byOption.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Words, HelpOption,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"listen"},
                                           std::vector<std::string>{"bogus"}),
                         [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
                             return info.param.empty() ? std::string("general") : info.param[0];
                         });

}  // namespace
