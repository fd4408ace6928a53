// The extremes and odd values of every value type go out and come back bit
// for bit: written by apply, kept in the state file through a restart of the
// server, and carried by save and apply to another registry. Each value is
// compared by its snapshot text (exact for floating bits, NaN payloads
// included) and each text by its bytes.
#include <gtest/gtest.h>

#include "snapshot_case.h"
#include "support/process.h"
#include "support/registry_server.h"

namespace {

using snapshot_test::Expect;
using snapshot_test::ReadFile;
using snapshot_test::SnapshotOf;
using snapshot_test::Stable;
using snapshot_test::WriteFile;
using velnor::test::RegistryServer;

struct ValueCase {
    std::string node;     // one persistent node per case, below the root
    std::string type;
    std::string initial;  // its value in the tree file
    std::string written;  // the value as the applied snapshot writes it
    std::string saved;    // as save writes it back ("": the same)
    std::string bytes;    // texts: what a read gives ("": not checked)
};

const std::string c_enumDomain = "[\"off\", \"slow mode\", \"\\xFF\", \"a\\\"b\", \"x: y #z\"]";

std::vector<ValueCase> Cases() {
    std::vector<ValueCase> cases = {
        {"bOne", "bool", "false", "true", "", ""},
        {"bList", "bool", "[false, true]", "[true, false]", "", ""},
        {"i32Min", "int32", "0", "-2147483648", "", ""},
        {"i32Max", "int32", "0", "2147483647", "", ""},
        {"u32Max", "uint32", "0", "4294967295", "", ""},
        {"i64Min", "int64", "0", "-9223372036854775808", "", ""},
        {"i64Max", "int64", "0", "9223372036854775807", "", ""},
        {"u64Max", "uint64", "0", "18446744073709551615", "", ""},
        {"dMax", "double", "0", "1.7976931348623157e308", "1.7976931348623157e+308", ""},
        {"dLowest", "double", "0", "-1.7976931348623157e+308", "", ""},
        {"dMinNormal", "double", "0", "2.2250738585072014e-308", "", ""},
        {"dSubnormal", "double", "0", "4.9406564584124654e-324", "5e-324", ""},
        {"dNegZero", "double", "0", "-0.0", "-0", ""},
        {"dInf", "double", "0", ".Inf", ".inf", ""},
        {"dNegInf", "double", "0", "-.INF", "-.inf", ""},
        {"dNan", "double", "0", ".NaN", ".nan", ""},
        {"dSignalling", "double", "0", ".nan(0x7ff0000000000001)", "", ""},
        {"dNegNan", "double", "0", ".nan(0xfff8000000000000)", "", ""},
        {"dList", "double", "[0, 0]", "[0.1, .nan(0x7ff8000000000123)]", "", ""},
        {"fMax", "float", "0", "3.4028235e38", "3.4028235e+38", ""},
        {"fLowest", "float", "0", "-3.4028235e+38", "", ""},
        {"fSubnormal", "float", "0", "1.4e-45", "1e-45", ""},
        {"fNegZero", "float", "0", "-0", "", ""},
        {"fNan", "float", "0", ".nan", "", ""},
        {"fSignalling", "float", "0", ".nan(0x7fa00001)", "", ""},
        {"fNegNan", "float", "0", ".nan(0xffc00000)", "", ""},
        {"fRounded", "float", "0", "16777217", "16777216", ""},
        {"fTenth", "float", "0", "0.1", "", ""},
        {"sEmpty", "string", "x", "\"\"", "", ""},
        {"sControls", "string", "x", "\"\\x01\\x1F\\x7F\\n\\t\\r\"", "", "\x01\x1f\x7f\n\t\r"},
        {"sSeparators", "string", "x", "\"\\u0085\\u009B\\u2028\\uFEFF\"", "", "\xc2\x85\xc2\x9b\xe2\x80\xa8\xef\xbb\xbf"},
        {"sNotUtf8", "string", "x", "!!binary \"Yf/+IGI=\"", "", "a\xff\xfe b"},
        {"sQuotes", "string", "x", "\"say \\\"hi\\\" \\\\ # x: y\"", "", "say \"hi\" \\ # x: y"},
        {"sList", "string", "[x, x, x]", "[\"a, b\", !!binary \"/w==\", \"Gr\xc3\xbc\xc3\x9f" "e\"]", "", ""},
        {"eNames", "enum", "[off, off, off, off, off]", "[\"x: y #z\", \"a\\\"b\", \"\xc3\xbf\", \"slow mode\", \"off\"]", "", ""},
    };
    // A text of 1 MiB, every byte kept.
    std::string big;
    while (big.size() < (1u << 20)) big += "0123456789 abcdefghijklmnopqrstuvwxyz \xc3\xbc ";
    cases.push_back({"sLarge", "string", "x", "\"" + big + "\"", "", big});
    return cases;
}

std::string TreeText(const std::vector<ValueCase>& cases) {
    std::string tree = "host: rt\napplication:\n  nodes:\n";
    for (const auto& c : cases) {
        tree += "    " + c.node + ": {type: " + c.type + ", value: " + c.initial + ", flags: [writable, persistent]";
        if (c.type == "enum") tree += ", domain: " + c_enumDomain;
        tree += "}\n";
    }
    return tree;
}

std::vector<std::string> Entries(const std::vector<ValueCase>& cases, bool saved) {
    std::vector<std::string> entries;
    for (const auto& c : cases) {
        const std::string& value = saved && !c.saved.empty() ? c.saved : c.written;
        entries.push_back("{path: \"" + c.node + "\", type: " + c.type + ", value: " + value + "}");
    }
    return entries;
}

// The registry holds every value of the table: its save gives the expected
// texts, and each text reads back as its bytes.
void ExpectHoldsTheTable(const RegistryServer& server, const std::vector<ValueCase>& cases, const char* when) {
    SCOPED_TRACE(when);
    const velnor::test::RunResult saved = velnor::test::Rove(server, {"save"});
    EXPECT_EQ(Stable(saved.out), "# velnor-rove snapshot\n" + SnapshotOf(Entries(cases, true), "rt"));
    EXPECT_EQ(saved.err, "");
    for (const auto& c : cases)
        if (!c.bytes.empty()) Expect(velnor::test::Rove(server, {"-q", c.node}), c.bytes + "\n", "", 0);
}

TEST(SnapshotValues, KeepTheirBitsThroughARestartAndThroughSaveAndApply) {
    const std::vector<ValueCase> cases = Cases();
    const std::string dir = velnor::test::TempDir();
    WriteFile(dir + "/tree.yaml", TreeText(cases));
    WriteFile(dir + "/written.yaml", SnapshotOf(Entries(cases, false), "rt"));
    const std::string written = std::to_string(cases.size()) + " of " + std::to_string(cases.size()) + " nodes written\n";

    RegistryServer server(dir + "/tree.yaml", {"--state", dir + "/state.yaml"});
    const velnor::test::RunResult applied = velnor::test::Rove(server, {"apply", dir + "/written.yaml"});
    EXPECT_EQ(applied.err, "");
    ASSERT_EQ(applied.status, 0);
    EXPECT_EQ(applied.out.substr(applied.out.rfind("\n", applied.out.size() - 2) + 1), written);
    ExpectHoldsTheTable(server, cases, "after apply");
    // --json gives floats in their shortest digits too.
    Expect(velnor::test::Rove(server, {"--json", "fSubnormal", "fMax"}),
           "{\"path\":\"fSubnormal\",\"type\":\"float\",\"value\":1e-45}\n"
           "{\"path\":\"fMax\",\"type\":\"float\",\"value\":3.4028235e+38}\n",
           "", 0);

    ASSERT_EQ(server.Stop(), 0);
    server.Restart();
    EXPECT_EQ(server.Process().Err(), "");  // no saved value was ignored
    ExpectHoldsTheTable(server, cases, "after a restart on the state file");

    const std::string saved = dir + "/saved.yaml";
    Expect(velnor::test::Rove(server, {"save", "-o", saved}), "", "", 0);
    RegistryServer other(dir + "/tree.yaml");
    const velnor::test::RunResult carried = velnor::test::Rove(other, {"apply", saved});
    EXPECT_EQ(carried.err, "");
    EXPECT_EQ(carried.status, 0);
    ExpectHoldsTheTable(other, cases, "on another registry after save and apply");
    Expect(velnor::test::Rove(other, {"diff", saved}), "", "", 0);
}

}  // namespace
