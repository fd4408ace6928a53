// The tree and the watch list: levels read again, values that arrive out
// of order, the filter, snapshot marks.
#include <gtest/gtest.h>

#include "browse/model.h"
#include "mci/mci.h"
#include "browse_fixture.h"

namespace browse::test {
namespace {

std::vector<std::string> RowPaths(const Tree& tree) {
    std::vector<std::string> paths;
    for (const auto& row : tree.Rows()) paths.push_back(std::string(static_cast<std::size_t>(row.depth), '.') + row.node->facts.path);
    return paths;
}

Tree DemoTree() {
    Tree tree;
    tree.Reset(DemoStart().start, "", false);
    for (const char* level : {"", "boards", "boards.board0", "trigger"}) {
        tree.SetChildren(level, DemoLevel(level).children, T0());
        tree.SetExpanded(level, true);
    }
    return tree;
}

TEST(Tree, ALevelReadAgainKeepsTheLevelsBelowWhatRemains) {
    Tree tree = DemoTree();
    ASSERT_EQ(tree.Find("boards.board0.gain")->value, "1.5");
    // boards read again without board1: board1 goes, board0 keeps its open level.
    ChildrenResult boards = DemoLevel("boards");
    boards.children.pop_back();
    tree.SetChildren("boards", boards.children, T0());
    EXPECT_EQ(tree.Find("boards.board1"), nullptr);
    EXPECT_EQ(tree.Find("boards.board1.gain"), nullptr);
    ASSERT_NE(tree.Find("boards.board0.gain"), nullptr);
    EXPECT_TRUE(tree.Find("boards.board0")->expanded);
    EXPECT_EQ(tree.ExpandedPaths(), (std::vector<std::string>{"", "boards", "boards.board0", "trigger"}));
    EXPECT_EQ(tree.RowOf("boards.board0.gain"), 8);
}

TEST(Tree, AReadOlderThanANotificationDoesNotHideIt) {
    Tree tree = DemoTree();
    const SteadyTime read = T0() + std::chrono::seconds(1);
    const SteadyTime notified = T0() + std::chrono::seconds(2);
    EXPECT_TRUE(tree.Notify("boards.board0.gain", "2.5", notified));
    // A read issued before the notification arrived, answered after it.
    EXPECT_FALSE(tree.SetValue("boards.board0.gain", "1.5", read));
    ChildrenResult level = DemoLevel("boards.board0");
    tree.SetChildren("boards.board0", level.children, read);
    EXPECT_EQ(tree.Find("boards.board0.gain")->value, "2.5");
    EXPECT_EQ(tree.Find("boards.board0.gain")->highlightUntil, notified + c_highlightTime);
    // A later read is taken.
    EXPECT_TRUE(tree.SetValue("boards.board0.gain", "3", notified + std::chrono::seconds(1)));
    EXPECT_EQ(tree.Find("boards.board0.gain")->value, "3");
}

TEST(Tree, TheFilterKeepsTheNodesAboveAMatchAndLoadedNodesOnly) {
    Tree tree = DemoTree();
    tree.SetExpanded("boards", false);  // a closed level's loaded nodes are searched too
    // board1's level was never read: its gain is not found.
    tree.SetFilter("GAIN");
    EXPECT_EQ(RowPaths(tree), (std::vector<std::string>{"", ".boards", "..boards.board0", "...boards.board0.gain"}));
    EXPECT_EQ(tree.RowOf("boards.board0.gain"), 3);
    tree.SetFilter("nothing-like-it");
    EXPECT_TRUE(tree.Rows().empty());
    EXPECT_EQ(tree.RowOf(""), -1);
    tree.SetFilter("");
    EXPECT_EQ(tree.Rows().size(), 12u);
}

TEST(Tree, SnapshotDifferencesMarkTheirNodesAndEveryNodeAbove) {
    Tree tree = DemoTree();
    tree.SetDifferences({{"boards.board0.gain", "1.5 -> 2.5"}, {"tracing.level", "missing in registry"}});
    EXPECT_EQ(tree.Find("boards.board0.gain")->difference, "1.5 -> 2.5");
    EXPECT_TRUE(tree.HoldsDifference("boards"));
    EXPECT_TRUE(tree.HoldsDifference(""));
    EXPECT_TRUE(tree.HoldsDifference("tracing"));
    EXPECT_FALSE(tree.HoldsDifference("trigger"));
    EXPECT_FALSE(tree.HoldsDifference("boards.board1"));
    // A node read later gets its mark.
    tree.SetChildren("tracing", DemoLevel("tracing").children, T0());
    EXPECT_EQ(tree.Find("tracing.level")->difference, "missing in registry");
    tree.SetDifferences({});
    EXPECT_EQ(tree.Find("boards.board0.gain")->difference, "");
    EXPECT_FALSE(tree.HoldsDifference(""));
}

TEST(Paths, DottedPathParts) {
    EXPECT_EQ(ParentPath("a.b.c"), "a.b");
    EXPECT_EQ(ParentPath("a"), "");
    EXPECT_EQ(LastName("a.b.c"), "c");
    EXPECT_TRUE(IsWithin("a.b.c", "a.b"));
    EXPECT_TRUE(IsWithin("a.b", "a.b"));
    EXPECT_TRUE(IsWithin("a", ""));
    EXPECT_FALSE(IsWithin("a.bc", "a.b"));
    EXPECT_FALSE(IsWithin("a", "a.b"));
}

TEST(WatchList, CountsChangesAndKeepsItsOrder) {
    WatchList watch;
    EXPECT_TRUE(watch.Add("b"));
    EXPECT_TRUE(watch.Add("a"));
    EXPECT_FALSE(watch.Add("b"));
    watch.SetValue("a", "1", T0());
    const WallTime wall = WallTime{} + std::chrono::seconds(5);
    EXPECT_TRUE(watch.Notify("a", "2", T0() + std::chrono::seconds(1), wall));
    EXPECT_TRUE(watch.Notify("a", "3", T0() + std::chrono::seconds(2), wall));
    EXPECT_FALSE(watch.Notify("c", "3", T0(), wall));
    watch.SetValue("a", "old", T0() + std::chrono::milliseconds(1500));  // older than the last notification
    const WatchEntry& a = watch.Entries()[1];
    EXPECT_EQ(a.value, "3");
    EXPECT_EQ(a.changes, 2u);
    EXPECT_TRUE(a.changedSinceAdded);
    EXPECT_EQ(a.lastChange, wall);
    EXPECT_FALSE(watch.Entries()[0].changedSinceAdded);
    EXPECT_TRUE(watch.Remove("b"));
    EXPECT_FALSE(watch.Remove("b"));
    EXPECT_EQ(watch.Paths(), std::vector<std::string>{"a"});
    EXPECT_TRUE(watch.Notify("a", "4", T0() + std::chrono::seconds(3), wall));
    EXPECT_EQ(watch.Entries()[0].changes, 3u);
}

TEST(TypeText, AsALevelDumpWritesIt) {
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eInt32, mci::eReadable | mci::eArray, 4, 0, nullptr})), "int32[4]");
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eEnum, mci::eReadable, 1, 0, nullptr})), "enum");
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eNoValue, mci::eExecutable, 0, 0, nullptr})), "function");
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eNoValue, mci::eSignal, 0, 0, nullptr})), "signal");
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eDouble, mci::eSignal | mci::eReadable, 1, 0, nullptr})), "signal");
    EXPECT_EQ(TypeText(Facts({"a", mci::enums::eNoValue, 0, 0, 3, nullptr})), "");
    EXPECT_EQ(TypeText(Facts({"a", 42, mci::eReadable, 1, 0, nullptr})), "type 42");
}

}  // namespace
}  // namespace browse::test
