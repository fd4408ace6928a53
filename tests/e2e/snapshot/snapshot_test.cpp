// save, diff and apply against a real registry: every run is checked by its
// whole output, error text and exit status, and every refused apply by
// reading the registry back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>

#include <sys/stat.h>

#include "snapshot_case.h"
#include "support/case_name.h"
#include "support/faults.h"
#include "support/process.h"
#include "support/registry_server.h"

using snapshot_test::Expect;
using snapshot_test::ReadFile;
using snapshot_test::SnapshotOf;
using snapshot_test::Stable;
using snapshot_test::WriteFile;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;
using velnor::test::RunResult;

namespace {

const char* const c_tree = "snapshot-values.yaml";

const std::string c_savedNodes =
    "# velnor-rove snapshot\n"
    "host: \"snap-host\"\n"
    "root: application\n"
    "version: \"9.9.9\"\n"
    "count: 25\n"
    "nodes:\n"
    "  - {path: \"texts.quoted\", type: string, value: \"say \\\"hi\\\" and 'bye' \\\\ back\"}\n"
    "  - {path: \"texts.lines\", type: string, value: \"one\\ntwo\\r\\n\"}\n"
    "  - {path: \"texts.hash\", type: string, value: \"# not a comment\"}\n"
    "  - {path: \"texts.spaces\", type: string, value: \"  leading and trailing  \"}\n"
    "  - {path: \"texts.utf8\", type: string, value: \"Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x83\"}\n"
    "  - {path: \"texts.raw\", type: string, value: \"plain\"}\n"
    "  - {path: \"texts.empty\", type: string, value: \"\"}\n"
    "  - {path: \"texts.list\", type: string, value: [\"a, b\", \"\", \"c\\\"d\"]}\n"
    "  - {path: \"numbers.nan\", type: double, value: .nan}\n"
    "  - {path: \"numbers.inf\", type: double, value: .inf}\n"
    "  - {path: \"numbers.ninf\", type: float, value: -.inf}\n"
    "  - {path: \"numbers.third\", type: double, value: 0.3333333333333333}\n"
    "  - {path: \"numbers.tiny\", type: double, value: 5e-324}\n"
    "  - {path: \"numbers.tenth\", type: float, value: 0.1}\n"
    "  - {path: \"numbers.i64min\", type: int64, value: -9223372036854775808}\n"
    "  - {path: \"numbers.i64max\", type: int64, value: 9223372036854775807}\n"
    "  - {path: \"numbers.u64max\", type: uint64, value: 18446744073709551615}\n"
    "  - {path: \"numbers.i32min\", type: int32, value: -2147483648}\n"
    "  - {path: \"numbers.u32max\", type: uint32, value: 4294967295}\n"
    "  - {path: \"numbers.nothing\", type: int32, value: []}\n"
    "  - {path: \"numbers.doubles\", type: double, value: [.nan, -.inf, 1e+300, -0]}\n"
    "  - {path: \"numbers.flags\", type: bool, value: [true, false]}\n"
    "  - {path: \"modes.mode\", type: enum, value: \"slow mode\"}\n"
    "  - {path: \"modes.bounded\", type: int32, value: 5}\n"
    "  - {path: \"secret\", type: int32, value: 3}\n";

// Read-only, constant, function and signal nodes are left out; the hidden
// node is in, as a plain path reaches it.
TEST(SnapshotSave, WritesEveryWritableNodeExactly) {
    RegistryServer server(FixturePath(c_tree));
    const RunResult r = velnor::test::Rove(server, {"save"});
    EXPECT_EQ(Stable(r.out), c_savedNodes);
    EXPECT_NE(r.out.find("\nport: " + server.PortText() + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\ntool: \"velnor-rove "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(SnapshotSave, PathsLimitTheWalkAndOutputGoesToTheFile) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/limited.yaml";
    Expect(velnor::test::Rove(server, {"save", "modes", "numbers.i64max", "modes.mode", "-o", file}), "", "", 0);
    EXPECT_EQ(Stable(ReadFile(file)),
              "# velnor-rove snapshot\nhost: \"snap-host\"\nroot: application\nversion: \"9.9.9\"\ncount: 3\nnodes:\n"
              "  - {path: \"modes.mode\", type: enum, value: \"slow mode\"}\n"
              "  - {path: \"modes.bounded\", type: int32, value: 5}\n"
              "  - {path: \"numbers.i64max\", type: int64, value: 9223372036854775807}\n");
    const RunResult platform = velnor::test::Rove(server, {"save", "-P"});
    EXPECT_EQ(Stable(platform.out),
              "# velnor-rove snapshot\nhost: \"snap-host\"\nroot: platform\ncount: 1\nnodes:\n"
              "  - {path: \"label\", type: string, value: \"platform side\"}\n");
    Expect(velnor::test::Rove(server, {"save", "no.such"}), "", "Node not found: no.such\n", 1);
}

// Values that are hard to write back: control characters, a YAML line
// separator, bytes that are not UTF-8, NaN, infinities, extreme integers.
TEST(SnapshotRoundTrip, SaveChangeApplySaveGivesTheSameFile) {
    RegistryServer server(FixturePath(c_tree));
    const std::string dir = velnor::test::TempDir();
    WriteFile(dir + "/bytes", std::string("a\xff\xfe b\x01\x7f\xe2\x80\xa8z", 11));
    WriteFile(dir + "/nul-free", "tab\there");
    Expect(velnor::test::Rove(server, {"texts.raw=@" + dir + "/bytes", "texts.empty=@" + dir + "/nul-free"}), "", "", 0);
    const std::string first = dir + "/first.yaml";
    Expect(velnor::test::Rove(server, {"save", "-o", first}), "", "", 0);
    EXPECT_NE(ReadFile(first).find("{path: \"texts.raw\", type: string, value: !!binary \"Yf/+IGIBf+KAqHo=\"}"),
              std::string::npos);
    EXPECT_NE(ReadFile(first).find("{path: \"texts.empty\", type: string, value: \"tab\\there\"}"), std::string::npos);
    Expect(velnor::test::Rove(server, {"diff", first}), "", "", 0);

    Expect(velnor::test::Rove(server, {"texts.quoted=x", "texts.raw=plain", "numbers.nan=1", "numbers.ninf=2",
                                       "numbers.i64min=0", "numbers.u64max=0", "numbers.doubles=7", "texts.list=p,q,r",
                                       "modes.mode=fast", "numbers.flags=false", "secret=4", "numbers.tenth=0.5"}),
           "", "", 0);
    Expect(velnor::test::Rove(server, {"diff", first}),
           "texts.quoted: \"say \\\"hi\\\" and 'bye' \\\\ back\" -> \"x\"\n"
           "texts.raw: !!binary \"Yf/+IGIBf+KAqHo=\" -> \"plain\"\n"
           "texts.list: [\"a, b\", \"\", \"c\\\"d\"] -> [\"p\", \"q\", \"r\"]\n"
           "numbers.nan: .nan -> 1\n"
           "numbers.ninf: -.inf -> 2\n"
           "numbers.tenth: 0.1 -> 0.5\n"
           "numbers.i64min: -9223372036854775808 -> 0\n"
           "numbers.u64max: 18446744073709551615 -> 0\n"
           "numbers.doubles: [.nan, -.inf, 1e+300, -0] -> [7, 7, 7, 7]\n"
           "numbers.flags: [true, false] -> [false, false]\n"
           "modes.mode: \"slow mode\" -> \"fast\"\n"
           "secret: 3 -> 4\n",
           "", 1);
    const RunResult applied = velnor::test::Rove(server, {"apply", first});
    EXPECT_EQ(applied.err, "");
    EXPECT_EQ(applied.status, 0);
    EXPECT_NE(applied.out.find("\n12 of 25 nodes written\n"), std::string::npos) << applied.out;
    const std::string second = dir + "/second.yaml";
    Expect(velnor::test::Rove(server, {"save", "-o", second}), "", "", 0);
    EXPECT_EQ(Stable(ReadFile(second)), Stable(ReadFile(first)));
    Expect(velnor::test::Rove(server, {"diff", first}), "", "", 0);
    Expect(velnor::test::Rove(server, {"apply", first}), "0 of 25 nodes written\n", "", 0);
}

struct RunCase {
    std::string name;
    std::vector<std::string> entries;  // the snapshot's entries
    std::vector<std::string> args;     // after the file
    std::string out;
    std::string err;  // "FILE" stands for the snapshot's path
    int status;
};

std::ostream& operator<<(std::ostream& os, const RunCase& c) { return os << c.name; }

std::string Replaced(std::string text, const std::string& file) {
    for (std::size_t at; (at = text.find("FILE")) != std::string::npos;) text.replace(at, 4, file);
    return text;
}

class SnapshotDiff : public ::testing::TestWithParam<RunCase> {};

TEST_P(SnapshotDiff, PrintsOneLinePerDifference) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/s.yaml";
    WriteFile(file, SnapshotOf(GetParam().entries));
    std::vector<std::string> args{"diff", file};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    Expect(velnor::test::Rove(server, args), GetParam().out, Replaced(GetParam().err, file), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SnapshotDiff,
    ::testing::Values(
        RunCase{"equal", {"{path: texts.hash, type: string, value: \"# not a comment\"}"}, {}, "", "", 0},
        RunCase{"none", {}, {}, "", "", 0},
        RunCase{"value", {"{path: modes.bounded, type: int32, value: 6}"}, {}, "modes.bounded: 6 -> 5\n", "", 1},
        RunCase{"missing", {"{path: boards.gone, type: int32, value: 6}"}, {}, "boards.gone: missing in registry\n", "", 1},
        RunCase{"readOnly", {"{path: fixed, type: int32, value: 1}", "{path: act, type: bool, value: true}"}, {},
                "fixed: not writable now\nact: not writable now\n", "", 1},
        RunCase{"typeChanged",
                {"{path: modes.bounded, type: double, value: 5}", "{path: numbers.flags, type: bool, value: [true]}",
                 "{path: secret, type: int32, value: [3]}"},
                {},
                "modes.bounded: type changed (saved double, live int32)\n"
                "numbers.flags: type changed (saved bool[1], live bool[2])\n"
                "secret: type changed (saved int32[1], live int32)\n",
                "", 1},
        RunCase{"limited",
                {"{path: modes.bounded, type: int32, value: 6}", "{path: texts.hash, type: string, value: x}"},
                {"texts"}, "texts.hash: \"x\" -> \"# not a comment\"\n", "", 1},
        RunCase{"limitNamesNothing", {"{path: modes.bounded, type: int32, value: 6}"}, {"texts", "no.such"}, "",
                "Node not found: no.such\n", 2},
        RunCase{"limitByPattern",
                {"{path: modes.bounded, type: int32, value: 6}", "{path: texts.hash, type: string, value: x}"},
                {"-g", "t*s.h?sh"}, "texts.hash: \"x\" -> \"# not a comment\"\n", "", 1},
        RunCase{"patternWithoutMatch", {"{path: modes.bounded, type: int32, value: 6}"}, {"-g", "no.*"}, "",
                "Node not found: no.*\n", 2},
        RunCase{"limitNamesNoNode", {"{path: no.such.node, type: int32, value: 1}"}, {"no.such"},
                "no.such.node: missing in registry\n", "", 1},
        RunCase{"json",
                {"{path: modes.bounded, type: int32, value: 6}", "{path: boards.gone, type: int32, value: 6}",
                 "{path: texts.hash, type: string, value: x}", "{path: numbers.i64max, type: int64, value: 1}",
                 "{path: modes.mode, type: enum, value: fast}", "{path: secret, type: int32, value: [3]}"},
                {"--json"},
                "{\"path\":\"modes.bounded\",\"difference\":\"value\",\"saved\":6,\"live\":5}\n"
                "{\"path\":\"boards.gone\",\"difference\":\"missing in registry\"}\n"
                "{\"path\":\"texts.hash\",\"difference\":\"value\",\"saved\":\"x\",\"live\":\"# not a comment\"}\n"
                "{\"path\":\"numbers.i64max\",\"difference\":\"value\",\"saved\":1,\"live\":\"9223372036854775807\"}\n"
                "{\"path\":\"modes.mode\",\"difference\":\"value\",\"saved\":\"fast\",\"live\":\"slow mode\"}\n"
                "{\"path\":\"secret\",\"difference\":\"type changed (saved int32[1], live int32)\"}\n",
                "", 1},
        RunCase{"jsonEqual", {"{path: texts.hash, type: string, value: \"# not a comment\"}"}, {"--json"}, "", "", 0}),
    velnor::test::NameOfCase());

// A bad file is refused before anything is written: the first entry
// changes a node, which must keep its value.
class SnapshotBadFile : public ::testing::TestWithParam<RunCase> {};

TEST_P(SnapshotBadFile, IsRefusedWithItsLineAndNothingIsWritten) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/bad.yaml";
    std::string text = GetParam().entries.front();
    WriteFile(file, text);
    for (const char* command : {"apply", "diff"})
        Expect(velnor::test::Rove(server, {command, file}), "", Replaced(GetParam().err, file) + "\n", 2);
    Expect(velnor::test::Rove(server, {"texts.hash"}), "texts.hash: # not a comment\n", "", 0);
}

std::string Good(const std::string& tail, int count = 2) {
    return "host: snap-host\nroot: application\ncount: " + std::to_string(count) +
           "\nnodes:\n  - {path: texts.hash, type: string, value: changed}\n" + tail;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SnapshotBadFile,
    ::testing::Values(
        RunCase{"unknownTopKey", {Good("  - {path: secret, type: int32, value: 1}\ncolour: red\n")}, {}, "",
                "FILE:7: unknown key 'colour'", 2},
        RunCase{"unknownEntryKey", {Good("  - {path: secret, type: int32, value: 1, unit: V}\n")}, {}, "",
                "FILE:6: unknown key 'unit'", 2},
        RunCase{"duplicateKey", {Good("  - {path: secret, type: int32, value: 1, value: 2}\n")}, {}, "",
                "FILE:6: duplicate key 'value'", 2},
        RunCase{"duplicatePath", {Good("  - {path: texts.hash, type: string, value: x}\n")}, {}, "",
                "FILE:6: duplicate path 'texts.hash' (first at line 5)", 2},
        RunCase{"missingValue", {Good("  - {path: secret, type: int32}\n")}, {}, "", "FILE:6: missing key 'value'", 2},
        RunCase{"mappingValue", {Good("  - {path: secret, type: int32, value: {a: 1}}\n")}, {}, "",
                "FILE:6: the value of a int32 node must be a scalar or a sequence", 2},
        RunCase{"nestedArray", {Good("  - {path: secret, type: int32, value: [[1]]}\n")}, {}, "",
                "FILE:6: an array element must be a scalar", 2},
        RunCase{"fraction", {Good("  - {path: secret, type: int32, value: 1.5}\n")}, {}, "",
                "FILE:6: '1.5' is not an int32", 2},
        RunCase{"quotedNumber", {Good("  - {path: secret, type: int32, value: \"1\"}\n")}, {}, "",
                "FILE:6: '1' is not an int32 (a quoted value is a text)", 2},
        RunCase{"int64Overflow", {Good("  - {path: numbers.i64max, type: int64, value: 9223372036854775808}\n")}, {},
                "", "FILE:6: '9223372036854775808' is not an int64 (out of its range)", 2},
        RunCase{"negativeUnsigned", {Good("  - {path: numbers.u32max, type: uint32, value: -1}\n")}, {}, "",
                "FILE:6: '-1' is not a uint32 (out of its range)", 2},
        RunCase{"hexDouble", {Good("  - {path: numbers.third, type: double, value: 0x1p-2}\n")}, {}, "",
                "FILE:6: '0x1p-2' is not a double (numbers are written in decimal)", 2},
        RunCase{"boolWord", {Good("  - {path: numbers.flags, type: bool, value: [yes, no]}\n")}, {}, "",
                "FILE:6: 'yes' is not a bool (true or false)", 2},
        RunCase{"hexInteger", {Good("  - {path: secret, type: int32, value: 0x10}\n")}, {}, "",
                "FILE:6: '0x10' is not an int32 (integers are written in decimal)", 2},
        RunCase{"floatUnderflow", {Good("  - {path: numbers.tenth, type: float, value: 1e-50}\n")}, {}, "",
                "FILE:6: '1e-50' is not a float (so close to 0 that it would become 0)", 2},
        RunCase{"doubleUnderflow", {Good("  - {path: numbers.third, type: double, value: [1, -1e-400]}\n")}, {}, "",
                "FILE:6: '-1e-400' is not a double (so close to 0 that it would become 0)", 2},
        RunCase{"floatOverflow", {Good("  - {path: numbers.tenth, type: float, value: 3.5e38}\n")}, {}, "",
                "FILE:6: '3.5e38' is not a float (out of its range)", 2},
        RunCase{"controlByteInAnError", {Good("  - {path: texts.raw, type: string, value: \"\\\x01\x9b\"}\n")}, {}, "",
                "FILE:6: unknown escape character: \\x01", 2},
        RunCase{"unknownType", {Good("  - {path: secret, type: int16, value: 1}\n")}, {}, "",
                "FILE:6: unknown type 'int16'", 2},
        RunCase{"cutAtALine", {Good("", 2)}, {}, "",
                "FILE:5: the file holds 1 of 2 entries (count); it was cut short or changed", 2},
        RunCase{"cutInALine", {Good("  - {path: secret, ty")}, {}, "", "FILE:6: end of map flow not found", 2},
        RunCase{"cutInAText", {Good("  - {path: secret, type: string, value: \"ab")}, {}, "",
                "FILE:6: illegal EOF in scalar", 2},
        RunCase{"missingCount", {"host: snap-host\nroot: application\nnodes: []\n"}, {}, "",
                "FILE:1: missing key 'count'", 2},
        RunCase{"notAMapping", {"- 1\n- 2\n"}, {}, "",
                "FILE:1: not a snapshot: a mapping with host, root, count and nodes is expected", 2},
        RunCase{"badRoot", {"host: snap-host\nroot: both\ncount: 0\nnodes: []\n"}, {}, "",
                "FILE:2: root must be application or platform", 2}),
    velnor::test::NameOfCase());

TEST(SnapshotBadFile, UnreadableOrMissingFile) {
    RegistryServer server(FixturePath(c_tree));
    Expect(velnor::test::Rove(server, {"diff", "/nonexistent/s.yaml"}), "",
           "/nonexistent/s.yaml: cannot be read (No such file or directory)\n", 2);
    const std::string dir = velnor::test::TempDir();
    for (const char* command : {"diff", "apply"})
        Expect(velnor::test::Rove(server, {command, dir}), "", dir + ": cannot be read (Is a directory)\n", 2);
    Expect(velnor::test::Rove(server, {"apply"}), "", "Error: apply needs a snapshot FILE (velnor-rove help apply)\n", 2);
}

// Every entry is checked before anything is written; each failing one is
// listed, and the good first entry is not written either.
class SnapshotCheck : public ::testing::TestWithParam<RunCase> {};

TEST_P(SnapshotCheck, FailsWithoutWriting) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/check.yaml";
    std::vector<std::string> entries{"{path: texts.hash, type: string, value: changed}"};
    entries.insert(entries.end(), GetParam().entries.begin(), GetParam().entries.end());
    WriteFile(file, SnapshotOf(entries));
    std::vector<std::string> args{"apply", file};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    Expect(velnor::test::Rove(server, args), GetParam().out, Replaced(GetParam().err, file), GetParam().status);
    Expect(velnor::test::Rove(server, {"texts.hash"}), "texts.hash: # not a comment\n", "", 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SnapshotCheck,
    ::testing::Values(
        RunCase{"outOfBounds", {"{path: modes.bounded, type: int32, value: 11}"}, {}, "",
                "Error: 1 of 2 entries fail the check; nothing was written:\n"
                "  modes.bounded (line 6): Value 11 is out of range [0, 10] for node modes.bounded\n",
                1},
        RunCase{"notInDomain",
                {"{path: modes.mode, type: enum, value: slow}", "{path: fixed, type: int32, value: 2}",
                 "{path: nowhere, type: int32, value: 2}", "{path: numbers.flags, type: bool, value: [true]}"},
                {"--force", "--dry-run"}, "",
                "Error: 4 of 5 entries fail the check; nothing was written:\n"
                "  modes.mode (line 6): Value 'slow' is not in the domain of node modes.mode\n"
                "  fixed (line 7): not writable now\n"
                "  nowhere (line 8): missing in registry\n"
                "  numbers.flags (line 9): type changed (saved bool[1], live bool[2])\n",
                1},
        RunCase{"jsonRecordsPerFailure",
                {"{path: modes.mode, type: enum, value: slow}", "{path: nowhere, type: int32, value: 2}"}, {"--json"},
                "{\"path\":\"modes.mode\",\"written\":false,\"line\":6,"
                "\"error\":\"Value 'slow' is not in the domain of node modes.mode\"}\n"
                "{\"path\":\"nowhere\",\"written\":false,\"line\":7,\"error\":\"missing in registry\"}\n",
                "", 1},
        RunCase{"limitNamesNothing", {}, {"no.such"}, "", "Node not found: no.such\n", 1},
        RunCase{"patternWithoutMatch", {}, {"-g", "texts.*", "x?"}, "", "Node not found: x?\n", 1}),
    velnor::test::NameOfCase());

TEST(SnapshotApply, OtherHostOrRootOnlyWithForce) {
    RegistryServer server(FixturePath(c_tree));
    const std::string dir = velnor::test::TempDir();
    const std::string entry = "{path: modes.bounded, type: int32, value: 7}";
    WriteFile(dir + "/other.yaml", SnapshotOf({entry}, "bench-host"));
    Expect(velnor::test::Rove(server, {"apply", dir + "/other.yaml"}), "",
           "Error: " + dir + "/other.yaml:1: snapshot of host \"bench-host\", the registry is host \"snap-host\"\n"
           "Nothing was written; use --force to apply the snapshot anyway.\n",
           1);
    Expect(velnor::test::Rove(server, {"modes.bounded"}), "modes.bounded: 5\n", "", 0);
    Expect(velnor::test::Rove(server, {"apply", dir + "/other.yaml", "--force"}),
           "set modes.bounded: 5 -> 7\n1 of 1 nodes written\n",
           "Warning: " + dir + "/other.yaml:1: snapshot of host \"bench-host\", the registry is host \"snap-host\" (--force)\n",
           0);
    Expect(velnor::test::Rove(server, {"modes.bounded"}), "modes.bounded: 7\n", "", 0);

    WriteFile(dir + "/platform.yaml",
              "host: snap-host\nroot: platform\ncount: 1\nnodes:\n  - {path: label, type: string, value: x}\n");
    Expect(velnor::test::Rove(server, {"apply", dir + "/platform.yaml"}), "",
           "Error: " + dir + "/platform.yaml:2: snapshot of the platform registry, this is the application registry\n"
           "Nothing was written; use --force to apply the snapshot anyway.\n",
           1);
    Expect(velnor::test::Rove(server, {"apply", dir + "/platform.yaml", "-P"}),
           "set label: \"platform side\" -> \"x\"\n1 of 1 nodes written\n", "", 0);
}

// --json: one record per entry to write, as it is written (or would be).
TEST(SnapshotApply, JsonGivesARecordPerWrite) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/s.yaml";
    WriteFile(file, SnapshotOf({"{path: modes.bounded, type: int32, value: 9}", "{path: secret, type: int32, value: 3}",
                                "{path: numbers.flags, type: bool, value: [false, false]}"}));
    Expect(velnor::test::Rove(server, {"apply", file, "--json", "--dry-run"}),
           "{\"path\":\"modes.bounded\",\"written\":false,\"value\":9,\"dry_run\":true}\n"
           "{\"path\":\"numbers.flags\",\"written\":false,\"value\":[false,false],\"dry_run\":true}\n",
           "", 0);
    Expect(velnor::test::Rove(server, {"apply", file, "--json"}),
           "{\"path\":\"modes.bounded\",\"written\":true,\"value\":9}\n"
           "{\"path\":\"numbers.flags\",\"written\":true,\"value\":[false,false]}\n",
           "", 0);
    Expect(velnor::test::Rove(server, {"apply", file, "--json"}), "", "", 0);
    Expect(velnor::test::Rove(server, {"save", "--json"}), "",
           "Error: save writes a YAML snapshot; --json does not apply to it\n", 1);
}

TEST(SnapshotApply, DryRunWritesNothingAndPathsLimitTheWrites) {
    RegistryServer server(FixturePath(c_tree));
    const std::string file = velnor::test::TempDir() + "/s.yaml";
    WriteFile(file, SnapshotOf({"{path: modes.bounded, type: int32, value: 9}",
                                "{path: texts.hash, type: string, value: \"x\\ny\"}",
                                "{path: secret, type: int32, value: 3}"}));
    Expect(velnor::test::Rove(server, {"apply", file, "--dry-run"}),
           "would set modes.bounded: 5 -> 9\nwould set texts.hash: \"# not a comment\" -> \"x\\ny\"\n"
           "2 of 3 nodes would be written (dry run: nothing written)\n",
           "", 0);
    Expect(velnor::test::Rove(server, {"modes.bounded"}), "modes.bounded: 5\n", "", 0);
    Expect(velnor::test::Rove(server, {"apply", file, "texts"}),
           "set texts.hash: \"# not a comment\" -> \"x\\ny\"\n1 of 1 nodes written\n", "", 0);
    Expect(velnor::test::Rove(server, {"modes.bounded"}), "modes.bounded: 5\n", "", 0);
    Expect(velnor::test::Rove(server, {"diff", file}), "modes.bounded: 9 -> 5\n", "", 1);
}

}  // namespace

namespace {

// A write the registry refuses after the check passed (here: the state file
// of a persistent node cannot be replaced) stops the run and says exactly
// what was written, what failed and what was not reached.
TEST(SnapshotApply, AFailedWriteStopsAndReportsTheState) {
    const std::string dir = velnor::test::TempDir();
    RegistryServer server(FixturePath(c_tree), {"--state", dir + "/state.yaml"});
    std::remove((dir + "/state.yaml").c_str());
    ASSERT_EQ(::mkdir((dir + "/state.yaml").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir + "/state.yaml/keep").c_str(), 0700), 0);
    WriteFile(dir + "/s.yaml", SnapshotOf({"{path: modes.bounded, type: int32, value: 6}",
                                           "{path: secret, type: int32, value: 9}",
                                           "{path: texts.hash, type: string, value: x}"}));
    const RunResult r = velnor::test::Rove(server, {"apply", dir + "/s.yaml"});
    EXPECT_EQ(r.out, "set modes.bounded: 5 -> 6\n");
    EXPECT_EQ(r.err.substr(0, r.err.find("secret: ") + 8),
              "Error: apply stopped; 1 of 3 nodes were written:\n  written: modes.bounded\n  failed: secret: ");
    EXPECT_NE(r.err.find(" could not be saved ("), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.rfind(")\n")), ")\n  not reached: texts.hash\n");
    EXPECT_EQ(r.status, 1);
    Expect(velnor::test::Rove(server, {"diff", dir + "/s.yaml"}),
           "secret: 9 -> 3\ntexts.hash: \"x\" -> \"# not a comment\"\n", "", 1);
    // --json: the same as records, the one that failed with its reason.
    const RunResult json = velnor::test::Rove(server, {"apply", dir + "/s.yaml", "--json"});
    const std::string failed = "{\"path\":\"secret\",\"written\":false,\"value\":9,\"error\":\"";
    EXPECT_EQ(json.out.substr(0, failed.size()), failed);
    EXPECT_NE(json.out.find(" could not be saved ("), std::string::npos) << json.out;
    const std::string notReached = "\"}\n{\"path\":\"texts.hash\",\"written\":false,\"value\":\"x\",\"error\":\"not reached\"}\n";
    EXPECT_EQ(json.out.substr(json.out.size() - std::min(json.out.size(), notReached.size())), notReached);
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(json.status, 1);
}

// A write without an answer (the registry stopped) may or may not have
// been done: it is reported so, never as failed, and the report says how to
// find out. Either the set or its read-back meets the stopped registry.
TEST(SnapshotApply, AWriteWithoutAnswerMayHaveBeenDone) {
    const std::string dir = velnor::test::TempDir();
    const int count = 20000;  // seconds of writes: the pause comes long before their end
    snapshot_test::WriteManyNodes(dir, count);
    RegistryServer server(dir + "/tree.yaml");
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    velnor::test::Child apply({velnor::test::BinPath("velnor-rove"), "apply", dir + "/s.yaml", "-p", server.PortText()},
                              options);
    ASSERT_TRUE(apply.WaitForOutput("set n0: 0 -> 1\n", velnor::test::c_faultBound)) << apply.Err();
    {
        velnor::test::PausedServer paused(server);
        ASSERT_EQ(apply.Wait(velnor::test::c_faultBound), 1) << apply.Err();
    }
    const std::string& err = apply.Err();
    const std::size_t stop = std::count(apply.Out().begin(), apply.Out().end(), '\n');  // "set" lines
    ASSERT_LT(stop, static_cast<std::size_t>(count));
    std::string expected;
    for (std::size_t i = 0; i < stop; ++i) expected += "  written: n" + std::to_string(i) + "\n";
    const std::string node = "n" + std::to_string(stop);
    const std::string noAnswer = "Registry at 127.0.0.1:" + server.PortText() + " did not answer in time)\n";
    if (err.find("  no answer: may have been written: " + node + " (") != std::string::npos) {
        expected = "Error: apply stopped; " + std::to_string(stop) + " of " + std::to_string(count) +
                   " nodes were written, 1 may have been:\n" + expected + "  no answer: may have been written: " +
                   node + " (" + noAnswer;
    } else {
        expected = "Error: apply stopped; " + std::to_string(stop + 1) + " of " + std::to_string(count) +
                   " nodes were written:\n" + expected + "  written: " + node + " (not read back: " + noAnswer;
    }
    for (int i = static_cast<int>(stop) + 1; i < count; ++i) expected += "  not reached: n" + std::to_string(i) + "\n";
    expected += "Once the registry answers, compare it with the snapshot: velnor-rove diff " + dir + "/s.yaml\n";
    EXPECT_EQ(err, expected);
    // Resumed: the nodes reported written hold the value, those not reached
    // do not.
    const std::string before = "n" + std::to_string(stop - 1), after = "n" + std::to_string(stop + 1);
    EXPECT_EQ(velnor::test::Rove(server, {"-q", before, after}).out, "1\n0\n");
}

}  // namespace

namespace {

// Options before the command word make it a path of access: the error
// says where the command goes.
TEST(SnapshotHelp, ACommandAfterTheOptionsIsHinted) {
    RegistryServer server(FixturePath(c_tree));
    const std::string hint = "Hint: the command must come first: velnor-rove save [options] ...\n";
    Expect(velnor::test::Run({velnor::test::BinPath("velnor-rove"), "--port", server.PortText(), "save", "-o", "f"}),
           "", "unrecognised option '-o'\n" + hint, 1);
    Expect(velnor::test::Run({velnor::test::BinPath("velnor-rove"), "-p", server.PortText(), "save"}), "",
           "Node not found: save\n" + hint, 1);
    Expect(velnor::test::Run({velnor::test::BinPath("velnor-rove"), "-p", server.PortText(), "nothing"}), "",
           "Node not found: nothing\n", 1);
}

TEST(SnapshotHelp, EachCommandHasItsOptionsAndExamples) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"save", "  -o [ --output ] arg   Write the snapshot to this file\n"},
        {"diff", "Show Examples: \n  List the differences between a snapshot and the registry"},
        {"apply", "Valid Options: \n  --dry-run             Print what would be written; write nothing.\n"}};
    for (const auto& [command, part] : cases) {
        const RunResult r = velnor::test::Run({velnor::test::BinPath("velnor-rove"), "help", command});
        EXPECT_EQ(r.out.rfind("\nHelp for command: " + command + "\n\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace

namespace {

// Ctrl-C during a long apply stops it between two writes and reports which
// nodes were written and which were not reached.
TEST(SnapshotApply, AnInterruptStopsBetweenWrites) {
    const std::string dir = velnor::test::TempDir();
    const int count = 20000;
    snapshot_test::WriteManyNodes(dir, count);
    RegistryServer server(dir + "/tree.yaml");
    velnor::test::Child apply({velnor::test::BinPath("velnor-rove"), "apply", dir + "/s.yaml", "-p", server.PortText()});
    ASSERT_TRUE(apply.WaitForOutput("set n0: 0 -> 1\n", std::chrono::seconds(60))) << apply.Err();
    apply.Signal(SIGINT);
    EXPECT_EQ(apply.Wait(std::chrono::seconds(60)), 1);
    const std::string& err = apply.Err();
    EXPECT_EQ(err.rfind("Error: apply interrupted; ", 0), 0u) << err.substr(0, 200);
    EXPECT_NE(err.find("\n  written: n0\n"), std::string::npos);
    EXPECT_EQ(err.find("failed: "), std::string::npos);
    const std::string last = "\n  not reached: n" + std::to_string(count - 1) + "\n";
    ASSERT_GT(err.size(), last.size());
    EXPECT_EQ(err.substr(err.size() - last.size()), last);
    // Exactly the nodes reported as written hold the new value.
    const std::size_t written = std::stoul(err.substr(26));
    EXPECT_EQ(Stable(velnor::test::Rove(server, {"save", "n" + std::to_string(written - 1), "n" + std::to_string(written)}).out),
              "# velnor-rove snapshot\nhost: \"snap-host\"\nroot: application\ncount: 2\nnodes:\n"
              "  - {path: \"n" + std::to_string(written - 1) + "\", type: int32, value: 1}\n"
              "  - {path: \"n" + std::to_string(written) + "\", type: int32, value: 0}\n");
}

}  // namespace
