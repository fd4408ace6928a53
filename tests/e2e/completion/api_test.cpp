// The completion candidates as data, in-process against a real registry:
// what a prompt of the tool (not only the shell) completes a path with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mci/mci.h"
#include "rove_complete.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

namespace {

using Words = std::vector<std::string>;

struct ContinuingCase {
    std::string name;
    std::string partial;
    Words expected;
};

std::ostream& operator<<(std::ostream& os, const ContinuingCase& c) { return os << c.name; }

class CompletionApi : public velnor::test::ServerPerSuite<CompletionApi, ::testing::TestWithParam<ContinuingCase>> {
public:
    static constexpr const char* c_tree = "completion-hostile.yaml";

protected:
    static mci::Node Root() { return mci::Connect("", mci::eApplicationRoot, s_server->Port(), false); }
};

TEST_P(CompletionApi, PathsContinuing) { EXPECT_EQ(PathsContinuing(Root(), GetParam().partial), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, CompletionApi,
    ::testing::Values(
        ContinuingCase{"everyRootNode", "",
                       {"$(id>pwned)", "semi;colon", "x|y&z<w>", "q\"uote", "back\\slash", "it's", "star*", "`id>tick`",
                        "wide.", "mode"}},
        ContinuingCase{"firstName", "w", {"wide."}},
        ContinuingCase{"nameInFullKeepsLongerSiblings", "wide.l1", {"wide.l1", "wide.l10", "wide.l11"}},
        ContinuingCase{"afterDot", "wide.", {"wide.l1", "wide.l10", "wide.l11", "wide.l2", "wide.sub."}},
        ContinuingCase{"deeper", "wide.sub.", {"wide.sub.x"}},
        ContinuingCase{"noMatch", "wide.z", {}},
        ContinuingCase{"unknownParent", "nope.x", {}}),
    velnor::test::NameOfCase());

TEST_F(CompletionApi, EnumValues) {
    EXPECT_EQ(EnumValueWords(Root(), "mode"), (Words{"a b", "a\"b", "$(id>pwned)", "back\\slash", "plain"}));
    EXPECT_EQ(EnumValueWords(Root(), "wide.l1"), Words{});
    EXPECT_EQ(EnumValueWords(Root(), "nope"), Words{});
}

TEST_F(CompletionApi, ExactNameAloneAsOnTheCommandLine) {
    const auto exact = CompletePath(Root(), mci::Tokenize("wide.l1"), "wide.l1", true);
    ASSERT_TRUE(exact);
    EXPECT_TRUE(exact->exact);
    EXPECT_EQ(exact->words, Words{"wide.l1 "});
    EXPECT_EQ(QuotedWords({"q\"uote", "back\\slash", "plain"}), "\"q\\\"uote\" \"back\\\\slash\" \"plain\" ");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    mci::Init(argc, argv);
    const int status = RUN_ALL_TESTS();
    mci::Shutdown();
    return status;
}
