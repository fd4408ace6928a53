// Every atom type in text, csv and binary, from streams and data on demand:
// byte for byte what the counting generator produced.
#include <gtest/gtest.h>

#include "expected.h"
#include "support/registry_server.h"
#include "support/server_per_suite.h"

namespace signal_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

struct TypeCase {
    std::string type;
    Format format;
};

std::vector<TypeCase> AllTypeCases() {
    std::vector<TypeCase> cases;
    for (const AtomType& type : AtomTypes())
        for (Format format : {Format::Text, Format::Csv, Format::Binary}) cases.push_back({type.name, format});
    return cases;
}

std::vector<std::string> FormatArgs(Format format) {
    if (format == Format::Csv) return {"--csv"};
    if (format == Format::Binary) return {"-B"};
    return {};
}

std::string CaseName(const testing::TestParamInfo<TypeCase>& info) {
    const char* formats[] = {"text", "csv", "binary"};
    return info.param.type + "_" + formats[static_cast<int>(info.param.format)];
}

class AtomTypeTest : public testing::TestWithParam<TypeCase> {
protected:
    std::vector<std::string> Args(const std::string& node, std::vector<std::string> extra) const {
        std::vector<std::string> args = FormatArgs(GetParam().format);
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(node + "." + GetParam().type);
        return args;
    }
    std::string Expected(std::uint64_t first, std::uint64_t count) const {
        return TypeNamed(GetParam().type).render(GetParam().format, first, count, 2);
    }
};

// A fresh server: the stream starts at atom 0. Six atoms over blocks of four.
TEST_P(AtomTypeTest, StreamPrintsTheGeneratedAtoms) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, Args("stream", {"--size", "6"}));
    EXPECT_EQ(r.out, Expected(0, 6));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

// Now: the newest five of a history of 200 atoms.
TEST_P(AtomTypeTest, DataOnDemandPrintsTheNewestAtoms) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, Args("dod", {"--size", "5"}));
    EXPECT_EQ(r.out, Expected(195, 5));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, AtomTypeTest, testing::ValuesIn(AllTypeCases()), CaseName);

// 8-bit atoms are numbers: a 10 breaks no line, a 0 writes no NUL byte.
struct ByteCase {
    std::string type;
    std::string position;
    std::string out;
};

class ByteAtomTest : public velnor::test::ServerPerSuite<ByteAtomTest, testing::TestWithParam<ByteCase>> {
public:
    static constexpr const char* c_tree = "signal-types.yaml";
};

TEST_P(ByteAtomTest, WritesDecimalNumbers) {
    const ByteCase& c = GetParam();
    const auto r = RunRove(*s_server, {"--csv", "--mode", "Position", "--offset", c.position, "dod." + c.type});
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(EightBit, ByteAtomTest,
                         testing::Values(ByteCase{"int8", "32", "64,65\n"}, ByteCase{"int8", "127", "-2,-1\n"},
                                         ByteCase{"int8", "5", "10,11\n"}, ByteCase{"int8", "128", "0,1\n"},
                                         ByteCase{"uint8", "127", "254,255\n"}, ByteCase{"uint8", "128", "0,1\n"},
                                         ByteCase{"uint8", "5", "10,11\n"}),
                         [](const testing::TestParamInfo<ByteCase>& info) {
                             return info.param.type + "_at_" + info.param.position;
                         });

TEST(ByteAtomText, FieldsOfElevenCharacters) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, {"--mode", "Position", "--offset", "5", "dod.int8"});
    EXPECT_EQ(r.out, "         10           11  \n");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace signal_test
