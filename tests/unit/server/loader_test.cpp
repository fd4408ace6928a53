// The tree loader in process: what a node becomes, and what is refused.
#include <gtest/gtest.h>

#include "istd/strings.h"
#include "istd/yaml_text.h"
#include "loader.h"
#include "scalar_text.h"
#include "support/case_name.h"
#include "yaml_limits.h"

namespace velnor::server {
namespace {

Tree Load(const std::string& applicationNodes) {
    return LoadTreeText("host: h\napplication:\n  nodes:\n" + applicationNodes, "t.yaml", "fallback");
}

const Node& At(const Tree& tree, const std::string& dotted) {
    const NodeId id = tree.Resolve(tree.applicationRoot, istd::TokenizeString(dotted, "."));
    if (id == 0) throw std::runtime_error("no node " + dotted);
    return tree.nodes[id];
}

std::string ErrorOf(const std::string& applicationNodes) {
    try {
        Load(applicationNodes);
    } catch (const LoadError& e) {
        return e.what();
    }
    return "";
}

struct FlagCase {
    const char* node;
    std::uint32_t flags;
    std::uint32_t size;
};

class DerivedFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(DerivedFlags, FollowFromValueFunctionAndSignal) {
    const Tree tree = Load(std::string("    n: ") + GetParam().node + "\n");
    EXPECT_EQ(At(tree, "n").flags, GetParam().flags);
    EXPECT_EQ(At(tree, "n").size, GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, DerivedFlags,
    ::testing::Values(FlagCase{"{}", 0, 0}, FlagCase{"{type: int32}", flags::Readable, 1},
                      FlagCase{"{type: int32, value: [1, 2]}", flags::Readable | flags::Array, 2},
                      FlagCase{"{type: int32, value: [], flags: [array]}", flags::Readable | flags::Array, 0},
                      FlagCase{"{type: int32, flags: [writable, -readable]}", flags::Writable, 1},
                      FlagCase{"{type: bool, flags: [readable, constant, hidden]}",
                               flags::Readable | flags::Constant | flags::Hidden, 1},
                      FlagCase{"{function: {}}", flags::Executable, 0},
                      FlagCase{"{flags: [executable], function: {result: false}}", flags::Executable, 0},
                      FlagCase{"{signal: {access: dod, atom: int8, components: [a]}}", flags::Signal, 0}),
    [](const auto& info) { return velnor::test::CaseName(info.param.node); });

TEST(Loader, DefaultsForTypesWithoutValue) {
    const Tree tree = Load(
        "    a: {type: double}\n"
        "    b: {type: enum, domain: [x, y]}\n"
        "    c: {type: int32, min: 2.5, max: 9}\n"
        "    d: {type: float, max: -1.5}\n"
        "    e: {type: string}\n");
    EXPECT_EQ(ElementText(At(tree, "a").initial, 0), "0");
    EXPECT_EQ(ElementText(At(tree, "b").initial, 0), "x");
    EXPECT_EQ(ElementText(At(tree, "c").initial, 0), "3");
    EXPECT_EQ(ElementText(At(tree, "d").initial, 0), "-1.5");
    EXPECT_EQ(ElementCount(At(tree, "e").initial), 1u);
}

// Values as the state file and snapshots write them: the largest float, the
// smallest subnormals, NaN bits, and texts that are not UTF-8.
TEST(Loader, ValuesReadBackToTheirBits) {
    const Tree tree = Load(
        "    a: {type: float, value: [3.4028235e38, 1e-45, -0, .nan(0xffc00001), .NaN, -.Inf]}\n"
        "    b: {type: double, value: [5e-324, 1.7976931348623157e308, .nan(0x7ff0000000000001)]}\n"
        "    c: {type: string, value: [!!binary \"Yf/+Yg==\", \"\\u2028\"]}\n"
        "    d: {type: enum, domain: [\"\\xFF\", x], value: !!binary \"w78=\"}\n");
    std::string bits;
    for (float f : std::get<std::vector<float>>(At(tree, "a").initial)) bits += istd::YamlFloating(f) + " ";
    for (double d : std::get<std::vector<double>>(At(tree, "b").initial)) bits += istd::YamlFloating(d) + " ";
    EXPECT_EQ(bits, "3.4028235e+38 1e-45 -0 .nan(0xffc00001) .nan -.inf 5e-324 1.7976931348623157e+308 .nan(0x7ff0000000000001) ");
    EXPECT_EQ(std::get<std::vector<std::string>>(At(tree, "c").initial),
              (std::vector<std::string>{"a\xff\xfe" "b", "\xe2\x80\xa8"}));
    EXPECT_EQ(ElementText(At(tree, "d").initial, 0), "\xc3\xbf");
}

TEST(Loader, ChildrenKeepFileOrderAndRootsTakeTheHostName) {
    const Tree tree = Load("    zeta: {}\n    alpha: {}\n    mid: {nodes: {b: {}, a: {}}}\n");
    std::vector<std::string> names;
    for (NodeId id : tree.nodes[tree.applicationRoot].children) names.push_back(tree.nodes[id].name);
    EXPECT_EQ(names, (std::vector<std::string>{"zeta", "alpha", "mid"}));
    EXPECT_EQ(tree.nodes[tree.applicationRoot].name, "h");
    EXPECT_EQ(tree.nodes[tree.platformRoot].name, "h");
    EXPECT_EQ(tree.RelPath(At(tree, "mid.a")), (std::vector<std::string>{"mid", "a"}));
    EXPECT_EQ(LoadTreeText("application: {}\n", "t.yaml", "machine").host, "machine");
}

TEST(Loader, HiddenPassesToDescendants) {
    // The children load before the keys that follow them.
    const Tree tree = Load("    s: {flags: [hidden], nodes: {k: {type: int32}}}\n    t: {nodes: {k: {}}, flags: [hidden]}\n    v: {}\n");
    EXPECT_TRUE(At(tree, "s.k").hiddenPath);
    EXPECT_FALSE(At(tree, "s.k").Has(flags::Hidden));
    EXPECT_TRUE(At(tree, "t.k").hiddenPath);
    EXPECT_FALSE(At(tree, "v").hiddenPath);
}

TEST(Loader, TheHostKeyNamesTheRootsWhereverItStands) {
    const Tree tree = LoadTreeText("application: {nodes: {a: {}}}\nhost: late\n", "t.yaml", "fallback");
    EXPECT_EQ(tree.nodes[tree.applicationRoot].name, "late");
    EXPECT_EQ(tree.nodes[tree.platformRoot].name, "late");
}

TEST(Loader, FunctionSetsResolveRelativeToTheParent) {
    const Tree tree = Load(
        "    b:\n"
        "      nodes:\n"
        "        g: {type: double, value: 2}\n"
        "        sub: {nodes: {t: {type: int32, value: [1, 2]}}}\n"
        "        f: {function: {result: false, sets: {g: 1, sub.t: [5, 6]}}}\n");
    const FunctionInfo& f = *At(tree, "b.f").function;
    EXPECT_FALSE(f.result);
    ASSERT_EQ(f.sets.size(), 2u);
    EXPECT_EQ(f.sets[0].target, At(tree, "b.g").id);
    EXPECT_EQ(f.sets[1].target, At(tree, "b.sub.t").id);
    EXPECT_EQ(ValueText(f.sets[1].value, true, 0), "[5,6]");
}

struct RefusedCase {
    const char* nodes;
    const char* message;
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, WithLineAndReason) { EXPECT_EQ(ErrorOf(GetParam().nodes), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(
    Trees, Refused,
    ::testing::Values(
        RefusedCase{"    a: {value: 1}\n",
                    "t.yaml:4: a value needs a 'type' (bool, int32, uint32, int64, uint64, double, float, string or enum)"},
        RefusedCase{"    a: {type: enum, value: x}\n", "t.yaml:4: an enum needs a 'domain' listing its values"},
        RefusedCase{"    a: {type: int32, value: \"5\"}\n", "t.yaml:4: value '5' does not fit the type int32"},
        RefusedCase{"    a: {type: bool, value: 1}\n", "t.yaml:4: value '1' does not fit the type bool"},
        RefusedCase{"    a: {type: float, value: 1e39}\n", "t.yaml:4: value '1e39' does not fit the type float"},
        RefusedCase{"    a: {type: float, value: 3.40282357e38}\n",
                    "t.yaml:4: value '3.40282357e38' does not fit the type float"},
        RefusedCase{"    a: {type: float, value: 1e-50}\n", "t.yaml:4: value '1e-50' does not fit the type float"},
        RefusedCase{"    a: {type: double, value: -1e-400}\n", "t.yaml:4: value '-1e-400' does not fit the type double"},
        RefusedCase{"    a: {type: string, value: !!binary \"YW=I\"}\n", "t.yaml:4: value 'YW=I' does not fit the type string"},
        RefusedCase{"    a: {type: int32, value: !!binary \"MQ==\"}\n", "t.yaml:4: value 'MQ==' does not fit the type int32"},
        RefusedCase{"    a: {type: uint64, value: 18446744073709551616}\n",
                    "t.yaml:4: value '18446744073709551616' does not fit the type uint64"},
        RefusedCase{"    a: {type: string, min: 1}\n", "t.yaml:4: min needs a numeric type"},
        RefusedCase{"    a: {type: int32, value: 1, flags: [array]}\n", "t.yaml:4: flag 'array' needs a list as value"},
        RefusedCase{"    a: {flags: [writable]}\n", "t.yaml:4: flag 'writable' needs a value ('type')"},
        RefusedCase{"    a: {flags: [executable]}\n", "t.yaml:4: flag 'executable' needs a 'function'"},
        RefusedCase{"    a: {type: int32, flags: [constant], update: {period: 1, generator: counter}}\n",
                    "t.yaml:4: a constant node cannot change by itself"},
        RefusedCase{"    a: {type: int32, update: {period: 0, generator: counter}}\n",
                    "t.yaml:4: period must be at least 0.01 seconds"},
        RefusedCase{"    a: {type: double, update: {period: 1, generator: toggle}}\n",
                    "t.yaml:4: generator 'toggle' needs a bool node"},
        RefusedCase{"    a: {type: string, update: {period: 1, generator: ramp}}\n",
                    "t.yaml:4: generator 'ramp' needs a numeric node"},
        RefusedCase{"    a: {signal: {access: stream, atom: int8, components: [x], history: 5}}\n",
                    "t.yaml:4: 'history' does not apply to stream signals"},
        RefusedCase{"    a: {signal: {access: dod, atom: int8, components: [x], block: 5}}\n",
                    "t.yaml:4: 'block' does not apply to dod signals"},
        RefusedCase{"    a: {signal: {access: dod, atom: int8, components: [x, x]}}\n",
                    "t.yaml:4: component 'x' appears twice"},
        RefusedCase{"    a: {type: int32, signal: {access: dod, atom: int8, components: [x]}}\n",
                    "t.yaml:4: a signal node has no 'type'"},
        RefusedCase{"    g: {type: int32, value: [1, 2]}\n    f: {function: {sets: {g: 3}}}\n",
                    "t.yaml:5: sets value for 'g' must have the node's shape (a list of 2 elements)"},
        RefusedCase{"    g: {type: int32, flags: [constant]}\n    f: {function: {sets: {g: 3}}}\n",
                    "t.yaml:5: sets path 'g' names a constant node"},
        RefusedCase{"    g: {type: int32, max: 3}\n    f: {function: {sets: {g: 4}}}\n",
                    "t.yaml:5: value 4 is out of range [-inf, 3]"},
        RefusedCase{"    a: {type: enum, domain: [x, x]}\n", "t.yaml:4: domain value 'x' appears twice"},
        RefusedCase{"    a: {type: int32, type: int64}\n", "t.yaml:4: duplicate key 'type'"},
        RefusedCase{"    a: 5\n", "t.yaml:4: node 'a' must be a mapping of node keys"},
        RefusedCase{"    a: {type: int32, min: 5, max: 7.5, value: 4}\n", "t.yaml:4: value 4 is out of range [5, 7.5]"},
        RefusedCase{"    a: {type: double, min: 0, value: .nan}\n", "t.yaml:4: value .nan is out of range [0, inf]"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.nodes, info.index); });

TEST(Loader, TopLevelKeysAreChecked) {
    try {
        LoadTreeText("host: h\napplicaton: {}\n", "t.yaml", "x");
        FAIL();
    } catch (const LoadError& e) {
        EXPECT_STREQ(e.what(), "t.yaml:2: unknown key 'applicaton' (did you mean 'application'?)");
        EXPECT_EQ(e.Line(), 2);
    }
    EXPECT_THROW(LoadTreeText("", "t.yaml", "x"), LoadError);
    EXPECT_THROW(LoadTreeText("- a\n", "t.yaml", "x"), LoadError);
}

TreeLimits Bounds(std::uint64_t nodes, std::uint64_t aliasYamlNodes, std::uint64_t heldYamlNodes) {
    TreeLimits limits;
    limits.nodes = nodes;
    limits.aliasYamlNodes = aliasYamlNodes;
    limits.heldYamlNodes = heldYamlNodes;
    return limits;
}

// Registry nodes count once however many keys and flags they have, and as
// often as aliases repeat them; YAML nodes count where aliases repeat them
// and while they are held (a node's keys, anchored nodes).
struct BoundCase {
    const char* name;
    const char* nodes;
    TreeLimits limits;
    const char* error;  // "" when within the limits
};

class TreeBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(TreeBounds, CountWhatTheyBound) {
    std::string error;
    try {
        LoadTreeText(std::string("host: h\napplication:\n  nodes:\n") + GetParam().nodes, "t.yaml", "x", GetParam().limits);
    } catch (const LoadError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, GetParam().error);
}

const char* const c_threeWritable =
    "    a: {type: int32, value: 1, flags: [writable, persistent], min: 0, max: 9}\n"
    "    b: {type: string, value: x, flags: [writable]}\n"
    "    c: {type: enum, domain: [p, q], value: q, flags: [writable]}\n";
const char* const c_repeated = "    a: &a {nodes: {x: {}, y: {}}}\n    b: *a\n";
const char* const c_listOfFive = "    a: {type: int32, value: [1, 2, 3, 4, 5]}\n";

INSTANTIATE_TEST_SUITE_P(
    Trees, TreeBounds,
    ::testing::Values(
        // Both roots and three nodes.
        BoundCase{"writable_nodes_at_the_limit", c_threeWritable, Bounds(5, 100, 100), ""},
        BoundCase{"writable_nodes_past_the_limit", c_threeWritable, Bounds(3, 100, 100), "t.yaml:6: the tree has more than 3 nodes"},
        BoundCase{"repeated_nodes_at_the_limit", c_repeated, Bounds(8, 100, 100), ""},
        // The third node of b is the first one past; it is written at a's line.
        BoundCase{"repeated_nodes_past_the_limit", c_repeated, Bounds(5, 100, 100), "t.yaml:4: the tree has more than 5 nodes"},
        // a's map: itself, nodes, its map, two keys and two empty maps.
        BoundCase{"alias_at_the_limit", c_repeated, Bounds(100, 7, 100), ""},
        BoundCase{"alias_past_the_limit", c_repeated, Bounds(100, 6, 100), "t.yaml:5: aliases repeat more than 6 YAML nodes"},
        // The root's key nodes (held while its children load), type, int32,
        // value, the list and five elements.
        BoundCase{"held_at_the_limit", c_listOfFive, Bounds(100, 100, 10), ""},
        BoundCase{"held_past_the_limit", c_listOfFive, Bounds(100, 100, 9),
                  "t.yaml:4: more than 9 YAML nodes to hold at once (a node's keys and values, anchored nodes)"},
        // What a node held is released once it is loaded.
        BoundCase{"held_released_per_node", "    a: {type: int32, value: [1, 2, 3, 4, 5]}\n    b: {type: int32, value: [1, 2, 3, 4, 5]}\n",
                  Bounds(100, 100, 10), ""},
        BoundCase{"anchored_stay_held", "    a: &a {type: int32}\n    b: {type: int32, value: [1, 2, 3, 4]}\n", Bounds(100, 100, 10),
                  "t.yaml:5: more than 10 YAML nodes to hold at once (a node's keys and values, anchored nodes)"},
        BoundCase{"alias_of_no_anchor", "    a: {type: int32, value: *b}\n", Bounds(100, 100, 100),
                  "t.yaml:4: the alias *b names no anchor before it"}),
    [](const auto& info) { return std::string(info.param.name); });

// Nodes and depth counted as a walk over the graph sees them: an alias
// brings every node of what it repeats, at the place where it stands.
struct LimitCase {
    const char* yaml;
    std::uint64_t nodes;
    int depth;
    const char* error;  // "" when within the limits
};

class YamlLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(YamlLimits, CountAliasesWhereTheyStand) {
    const LimitCase& c = GetParam();
    std::string error;
    try {
        CheckYamlLimits(c.yaml, "t.yaml", c.nodes, c.depth);
    } catch (const LoadError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, YamlLimits,
    ::testing::Values(LimitCase{"[1, 2]", 3, 1, ""},
                      LimitCase{"[1, 2]", 2, 1, "t.yaml:1: the tree has more than 2 nodes (aliases counted as often as they repeat)"},
                      LimitCase{"[1, [2]]", 4, 1, "t.yaml:1: nesting deeper than 1 levels"},
                      // map, a, [, 1, 2, b, and the three the alias repeats
                      LimitCase{"a: &x [1, 2]\nb: *x\n", 9, 2, ""},
                      LimitCase{"a: &x [1, 2]\nb: *x\n", 8, 2,
                                "t.yaml:2: the tree has more than 8 nodes (aliases counted as often as they repeat)"},
                      LimitCase{"a: &x 1\nb: *x\n", 5, 1, ""},
                      // The alias of a two-level list inside a list: four levels.
                      LimitCase{"a: &x [[1]]\nb: [*x]\n", 100, 4, ""},
                      LimitCase{"a: &x [[1]]\nb: [*x]\n", 100, 3, "t.yaml:2: nesting deeper than 3 levels"},
                      LimitCase{"a: &x [1, *x]\n", 100, 10, "t.yaml:1: an alias stands inside the node it repeats"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.yaml, info.index); });

}  // namespace
}  // namespace velnor::server
