// --json: the records of access, info and dump, parsed; error records and
// the run going on after them; dumped values written back unchanged.
#include <gtest/gtest.h>

#include <fstream>

#include "script_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

namespace script_test {
namespace {

struct JsonCase {
    JsonCase(std::string name_, std::vector<std::string> args_, std::vector<std::string> records_, int status_ = 0)
        : name(std::move(name_)), args(std::move(args_)), records(std::move(records_)), status(status_) {}
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> records;  // JSON texts, one per expected line
    int status = 0;
    std::string err;
};

std::ostream& operator<<(std::ostream& os, const JsonCase& c) { return os << c.name; }

class JsonRecords : public velnor::test::ServerPerSuite<JsonRecords, ::testing::TestWithParam<JsonCase>> {
public:
    static constexpr const char* c_tree = "scripting.yaml";
};

TEST_P(JsonRecords, Run) {
    std::vector<std::string> args = GetParam().args;
    args.push_back("--json");
    const velnor::test::RunResult r = velnor::test::Rove(*s_server, args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(Records(r.out), Expected(GetParam().records)) << r.out;
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.status, GetParam().status);
}

const JsonCase c_readCases[] = {
    {"scalars",
     {"values.flag", "values.count", "values.ucount", "values.third", "values.tenth", "values.label"},
     {R"({"path":"values.flag","type":"bool","value":true})", R"({"path":"values.count","type":"int32","value":-7})",
      R"({"path":"values.ucount","type":"uint32","value":7})",
      R"({"path":"values.third","type":"double","value":0.3333333333333333})",
      R"({"path":"values.tenth","type":"float","value":0.1})",
      R"({"path":"values.label","type":"string","value":"say \"hi\"\tthere"})"}},
    // Beyond 2^53 a JSON number would be rounded by its reader: a text.
    {"wideIntegers",
     {"values.big", "values.small", "values.ubig"},
     {R"({"path":"values.big","type":"int64","value":"-9000000000000000000"})",
      R"({"path":"values.small","type":"int64","value":9007199254740992})",
      R"({"path":"values.ubig","type":"uint64","value":"18000000000000000000"})"}},
    {"nonFinite",
     {"odd.nan", "odd.inf", "odd.ninf"},
     {R"({"path":"odd.nan","type":"double","value":"nan"})", R"({"path":"odd.inf","type":"double","value":"inf"})",
      R"({"path":"odd.ninf","type":"float","value":"-inf"})"}},
    {"enumByName", {"values.mode"}, {R"({"path":"values.mode","type":"enum","value":"slow"})"}},
    {"arrays",
     {"values.ints", "values.texts", "values.ints[1,3]", "values.ints[0:1]"},
     {R"({"path":"values.ints","type":"int32","value":[1,2,3,4]})",
      R"({"path":"values.texts","type":"string","value":["a","b"]})",
      R"({"path":"values.ints","type":"int32","index":[1,3],"value":[2,4]})",
      R"({"path":"values.ints","type":"int32","index":[0,1],"value":[1,2]})"}},
    {"valueless", {"boards"}, {R"({"path":"boards","type":"none","value":null})"}},
    {"hiddenByPath", {"boards.spare"}, {R"({"path":"boards.spare","type":"int32","value":9})"}},
    // The first unknown name no longer ends the run: every path has its record.
    {"keepGoing",
     {"values.count", "values.missing", "odd.inf"},
     {R"({"path":"values.count","type":"int32","value":-7})",
      R"({"path":"values.missing","error":"Node not found: values.missing"})",
      R"({"path":"odd.inf","type":"double","value":"inf"})"},
     1},
    {"errors",
     {"values.ints[7]", "values.ints[x]", "odd.nan=1", "values.count=abc", "actions.refuse{}", "values.ucount"},
     {R"({"path":"values.ints","error":"Position 7 and count 1 exceed the size 4 of node values.ints"})",
      R"({"path":"values.ints","error":"bad lexical cast: source type value could not be interpreted as target"})",
      R"({"path":"odd.nan","error":"Node odd.nan is not writable"})",
      R"({"path":"values.count","error":"Bad cast from abc to int"})",
      R"({"path":"actions.refuse","result":false})", R"({"path":"values.ucount","type":"uint32","value":7})"},
     1},
    {"writeAndRun",
     {"actions.target=5", "actions.target", "actions.bump{}", "actions.target"},
     {R"({"path":"actions.target","written":true})", R"({"path":"actions.target","type":"int32","value":5})",
      R"({"path":"actions.bump","result":true})", R"({"path":"actions.target","type":"int32","value":42})"}},
    {"info",
     {"info", "values.mode", "boards.board0", ""},
     {R"({"name":"mode","path":"values.mode","type":"enum","size":1,"flags":["readable","writable"],
          "domain":["off","slow","fast"],"validator":null,"parent":"values","children":[],"value":"slow"})",
      R"({"name":"board0","path":"boards.board0","type":"none","size":0,"flags":[],"domain":null,
          "validator":null,"parent":"boards","children":["gain","offset"],"value":null})",
      R"({"name":"","path":"","type":"none","size":0,"flags":[],"domain":null,"validator":null,"parent":null,
          "children":["values","odd","boards","actions","state"],"value":null})"}},
    {"infoKeepsGoing",
     {"info", "nothing", "state"},
     {R"({"path":"nothing","error":"Node not found: nothing"})",
      R"({"name":"state","path":"state","type":"string","size":1,"flags":["readable","writable"],"domain":null,
          "validator":null,"parent":"","children":[],"value":"idle"})"},
     1},
    // Values are never cut; --max-length applies to the plain dump only.
    {"dump",
     {"dump", "-m", "5", "odd", "boards.board1"},
     {R"({"path":"odd","depth":0,"type":"none","flags":[],"value":null})",
      R"({"path":"odd.nan","depth":1,"type":"double","flags":["readable"],"value":"nan"})",
      R"({"path":"odd.inf","depth":1,"type":"double","flags":["readable"],"value":"inf"})",
      R"({"path":"odd.ninf","depth":1,"type":"float","flags":["readable"],"value":"-inf"})",
      R"({"path":"odd.long","depth":1,"type":"string","flags":["readable"],
          "value":"0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"})",
      R"({"path":"boards.board1","depth":0,"type":"none","flags":[],"value":null})",
      R"({"path":"boards.board1.gain","depth":1,"type":"double","flags":["readable","writable"],"value":2.5})",
      R"({"path":"boards.board1.offset","depth":1,"type":"int32","flags":["readable","writable"],"value":1})"}},
    {"dumpLevel",
     {"dump", "-l", "1", "boards"},
     {R"({"path":"boards","depth":0,"type":"none","flags":[],"value":null})",
      R"({"path":"boards.board0","depth":1,"type":"none","flags":[],"value":null})",
      R"({"path":"boards.board1","depth":1,"type":"none","flags":[],"value":null})",
      R"({"path":"boards.board12","depth":1,"type":"none","flags":[],"value":null})",
      R"({"path":"boards.spare","depth":1,"type":"int32","flags":["readable","hidden"],"value":9})"}},
};

INSTANTIATE_TEST_SUITE_P(Json, JsonRecords, ::testing::ValuesIn(c_readCases), velnor::test::NameOfCase());

class JsonErrors : public velnor::test::ServerPerSuite<JsonErrors> {
public:
    static constexpr const char* c_tree = "scripting.yaml";
};

// An error record holds the text the plain mode prints after "Error: ".
TEST_F(JsonErrors, SameTextAsPlainMode) {
    for (const std::string path : {"values.count=abc", "values.ints[9]", "odd.nan=1"}) {
        const velnor::test::RunResult plain = velnor::test::Rove(*s_server, {path});
        const velnor::test::RunResult json = velnor::test::Rove(*s_server, {path, "--json"});
        const std::vector<Json> records = Records(json.out);
        ASSERT_EQ(records.size(), 1u) << path;
        EXPECT_EQ(plain.err, "Error: " + records[0]["error"].get<std::string>() + "\n") << path;
        EXPECT_EQ(plain.status, 1);
        EXPECT_EQ(json.status, 1);
    }
}

// The text of a JSON value as access takes it back.
std::string ValueText(const Json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_array()) return value.dump();
    std::string text;
    for (const auto& element : value) text += (text.empty() ? "" : ",") + ValueText(element);
    return text;
}

// Every writable value of a dump, written back from its record after other
// values were written, gives the same dump: no value loses a digit or a
// character on the way through JSON.
TEST(JsonRoundTrip, DumpedValuesWriteBackUnchanged) {
    velnor::test::RegistryServer server(velnor::test::FixturePath("scripting.yaml"));
    const velnor::test::RunResult before = velnor::test::Rove(server, {"dump", "--json", "values"});
    ASSERT_EQ(before.status, 0) << before.err;
    const std::vector<Json> records = Records(before.out);
    ASSERT_EQ(records.size(), 14u);

    const velnor::test::RunResult scramble =
        velnor::test::Rove(server, {"values.flag=false", "values.big=1", "values.ubig=2", "values.third=0.5", "values.tenth=0.2",
                     "values.label=x", "values.mode=off", "values.ints=0", "values.texts=c,d"});
    ASSERT_EQ(scramble.status, 0) << scramble.err;

    std::vector<std::string> writes = {"--json"};
    for (const auto& record : records)
        if (!record["value"].is_null()) writes.push_back(record["path"].get<std::string>() + "=" + ValueText(record["value"]));
    const velnor::test::RunResult written = velnor::test::Rove(server, writes);
    EXPECT_EQ(written.status, 0) << written.out;
    for (const auto& record : Records(written.out)) EXPECT_EQ(record["written"], true) << record.dump();

    const velnor::test::RunResult after = velnor::test::Rove(server, {"dump", "--json", "values"});
    EXPECT_EQ(Records(after.out), records);
}

// A text that is not valid UTF-8 cannot travel in JSON unchanged: every
// record that carries one gives the value as base64, in a field that says
// so, instead of putting U+FFFD in place of its bytes. Valid texts, also
// beyond ASCII, stay texts.
TEST(JsonBinaryText, GivenAsBase64) {
    velnor::test::RegistryServer server(velnor::test::FixturePath("scripting.yaml"));
    const std::string dir = velnor::test::TempDir();
    std::ofstream(dir + "/label", std::ios::binary) << "caf\xe9";
    std::ofstream(dir + "/texts", std::ios::binary) << "ok,\xff\xfe";
    const velnor::test::RunResult written = velnor::test::Rove(
        server, {"values.label=@" + dir + "/label", "values.texts=@" + dir + "/texts", "state=caf\xc3\xa9"});
    ASSERT_EQ(written.status, 0) << written.err;
    const velnor::test::RunResult saved = velnor::test::Rove(server, {"save", "values.label", "-o", dir + "/saved"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    ASSERT_EQ(velnor::test::Rove(server, {"values.label=x"}).status, 0);

    struct Case {
        std::vector<std::string> args;
        std::string record;
    };
    const Case cases[] = {
        {{"values.label"}, R"({"path":"values.label","type":"string","value":"x"})"},
        {{"values.texts"}, R"({"path":"values.texts","type":"string","value_base64":["b2s=","//4="]})"},
        {{"values.texts[1]"}, R"({"path":"values.texts","type":"string","index":[1],"value_base64":["//4="]})"},
        {{"state"}, "{\"path\":\"state\",\"type\":\"string\",\"value\":\"caf\xc3\xa9\"}"},
        {{"info", "values.texts"},
         R"({"name":"texts","path":"values.texts","type":"string","size":2,"flags":["readable","writable","array"],
             "domain":null,"validator":null,"parent":"values","children":[],"value_base64":["b2s=","//4="]})"},
        {{"dump", "values.texts"},
         R"({"path":"values.texts","depth":0,"type":"string","flags":["readable","writable","array"],
             "value_base64":["b2s=","//4="]})"},
        {{"listen", "--initial", "--wait", "0", "values.texts"},
         R"({"path":"values.texts","range":null,"value_base64":["b2s=","//4="]})"},
        {{"diff", dir + "/saved"}, R"({"path":"values.label","difference":"value","saved_base64":"Y2Fm6Q==","live":"x"})"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const velnor::test::RunResult r = velnor::test::Rove(server, args);
        std::vector<Json> records = Records(r.out);
        ASSERT_EQ(records.size(), 1u) << r.out << r.err;
        records[0].erase("time");  // listen's time of arrival
        EXPECT_EQ(records[0], Json::parse(c.record)) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
}  // namespace script_test
