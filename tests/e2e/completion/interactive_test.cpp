// The completion in a real interactive bash (in a tmux terminal), with the
// hostile names of a real registry: keys are typed, Tab completes, Enter
// runs the line. The program the line runs is a stand-in that answers
// completion through the real tool and otherwise records its arguments, so
// the test sees exactly the words the shell passed, and that nothing else
// ran (no file made by a command substitution).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/faults.h"
#include "support/server_per_suite.h"
#include "support/tmux_shell.h"

using velnor::test::BinPath;

namespace {

struct Key {
    std::string text;
    bool named = false;  // a tmux key name
};
const Key c_tab{"Tab", true};

struct TypedCase {
    std::string name;
    std::vector<Key> keys;         // after "velnor-rove --port PORT "
    std::string expected;          // the last argument the program received
};

std::ostream& operator<<(std::ostream& os, const TypedCase& c) { return os << c.name; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class InteractiveCompletion
    : public velnor::test::ServerPerSuite<InteractiveCompletion, ::testing::TestWithParam<TypedCase>> {
public:
    static constexpr const char* c_tree = "completion-hostile.yaml";

protected:
    void SetUp() override {
        m_dir = velnor::test::TempDir();
        std::filesystem::create_directory(m_dir + "/bin");
        const std::string stand_in = m_dir + "/bin/velnor-rove";
        std::ofstream(stand_in) << "#!/bin/sh\n"
                                   "for a in \"$@\"; do\n"
                                   "  case $a in --complete|--complete-value) exec '" << BinPath("velnor-rove")
                                << "' \"$@\" ;; esac\n"
                                   "done\n"
                                   "printf '%s\\0' \"$@\" >\"$RECORD.tmp\" && mv \"$RECORD.tmp\" \"$RECORD\"\n";
        std::filesystem::permissions(stand_in, std::filesystem::perms::owner_all);
        std::ofstream(m_dir + "/with blank.yaml") << "x\n";
        std::ofstream(m_dir + "/rc") << "PS1='ready> '\nHISTFILE=/dev/null\nsource '" << VELNOR_SOURCE_DIR
                                     << "/completion/velnor-rove.bash'\n";
        m_shell = std::make_unique<velnor::test::TmuxShell>(
            m_dir, m_dir + "/rc",
            std::map<std::string, std::string>{{"PATH", m_dir + "/bin:/usr/bin:/bin"},
                                               {"HOME", m_dir},
                                               {"RECORD", m_dir + "/args"},
                                               {"VELNOR_RUNTIME_DIR", m_dir}});
        ASSERT_TRUE(m_shell->WaitForLastLine("ready>", std::chrono::seconds(30))) << m_shell->Screen();
    }

    // Types the line, runs it and gives the arguments the program received.
    std::vector<std::string> RunTyped(const std::vector<Key>& keys) {
        m_shell->Type("velnor-rove --port " + s_server->PortText() + " ");
        for (const Key& key : keys) key.named ? m_shell->Press(key.text) : m_shell->Type(key.text);
        m_shell->Press("Enter");
        // The program records its arguments once the line ran (renamed into
        // place whole); the screen alone could still show the last prompt.
        EXPECT_TRUE(velnor::test::WaitForFileText(m_dir + "/args", "--port", std::chrono::seconds(30)))
            << m_shell->Screen();
        std::vector<std::string> args;
        std::istringstream record(ReadFile(m_dir + "/args"));
        for (std::string arg; std::getline(record, arg, '\0');) args.push_back(arg);
        return args;
    }

    std::string m_dir;
    std::unique_ptr<velnor::test::TmuxShell> m_shell;
};

TEST_P(InteractiveCompletion, OneLiteralWord) {
    const std::vector<std::string> args = RunTyped(GetParam().keys);
    EXPECT_EQ(args, (std::vector<std::string>{"--port", s_server->PortText(), GetParam().expected})) << m_shell->Screen();
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/pwned"));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/tick"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, InteractiveCompletion,
    ::testing::Values(
        TypedCase{"commandSubstitution", {{"$"}, c_tab}, "$(id>pwned)"},
        TypedCase{"semicolon", {{"se"}, c_tab}, "semi;colon"},
        TypedCase{"pipeAndRedirections", {{"x"}, c_tab}, "x|y&z<w>"},
        TypedCase{"escapedBackquote", {{"\\`"}, c_tab}, "`id>tick`"},
        TypedCase{"doubleQuote", {{"q"}, c_tab}, "q\"uote"},
        TypedCase{"backslash", {{"ba"}, c_tab}, "back\\slash"},
        TypedCase{"singleQuoteOpen", {{"'it"}, c_tab}, "it's"},
        TypedCase{"longerSibling", {{"wide.l1"}, c_tab, {"0"}, c_tab}, "wide.l10"},
        TypedCase{"segmentBySegment", {{"wi"}, c_tab, {"s"}, c_tab, c_tab}, "wide.sub.x"},
        TypedCase{"enumWithBlank", {{"mode=a"}, c_tab, {" "}, c_tab}, "mode=a b"},
        TypedCase{"enumWithQuote", {{"mode=a"}, c_tab, {"\""}, c_tab}, "mode=a\"b"},
        TypedCase{"enumCommandSubstitution", {{"mode=$"}, c_tab}, "mode=$(id>pwned)"},
        TypedCase{"valueFileWithBlank", {{"mode=@wi"}, c_tab}, "mode=@with blank.yaml"}),
    velnor::test::NameOfCase());

}  // namespace
