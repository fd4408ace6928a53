// Registry calls against the real server: navigation, hidden nodes, reads,
// checked writes, texts and functions.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "raw_registry.h"
#include "support/case_name.h"
#include "support/registry_server.h"

namespace velnor::test {
namespace {

class Protocol : public ::testing::Test {
protected:
    Protocol() : server(FixturePath("server-basic.yaml")), app(server.Port()) {}

    std::string Text(const std::string& path, unsigned maxLength) {
        CORBA::String_var text = app->toText(app.Id(path), maxLength);
        return text.in();
    }

    RegistryServer server;
    RawRegistry app;
};

std::vector<std::string> Names(const i_NET::NodeInfoSeq& list) {
    std::vector<std::string> names;
    for (CORBA::ULong i = 0; i < list.length(); ++i) names.emplace_back(list[i].name.in());
    return names;
}

TEST_F(Protocol, IdentityNamesTheHostAndChangesWithEachRun) {
    i_NET::ServerIdentity_var first = app->identity();
    EXPECT_STREQ(first->host.in(), "test-host");
    server.Restart();
    RawRegistry again(server.Port());
    i_NET::ServerIdentity_var second = again->identity();
    EXPECT_NE(first->runId, second->runId);
}

TEST_F(Protocol, RootIsNamedAfterTheHost) {
    i_NET::NodeInfo_var root = app->root();
    EXPECT_STREQ(root->name.in(), "test-host");
    EXPECT_EQ(root->parent, root->id);
    EXPECT_EQ(root->relPath.length(), 0u);
    EXPECT_EQ(root->typeCode, 0);
    EXPECT_EQ(root->childCount, 9u);  // hidden children count too
}

struct InfoCase {
    const char* path;
    unsigned flags;
    short type;
    unsigned size;
    unsigned children;
};

class NodeInfos : public Protocol, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(NodeInfos, FlagsTypeAndSize) {
    const InfoCase& c = GetParam();
    const i_NET::NodeInfo info = app.Lookup(c.path, true);
    EXPECT_EQ(info.flags, c.flags);
    EXPECT_EQ(info.typeCode, c.type);
    EXPECT_EQ(info.size, c.size);
    EXPECT_EQ(info.childCount, c.children);
}

constexpr unsigned R = i_NET::FLAG_READABLE, W = i_NET::FLAG_WRITABLE, C = i_NET::FLAG_CONSTANT,
                   X = i_NET::FLAG_EXECUTABLE, A = i_NET::FLAG_ARRAY, P = i_NET::FLAG_PERSISTENT,
                   H = i_NET::FLAG_HIDDEN, S = i_NET::FLAG_SIGNAL;

INSTANTIATE_TEST_SUITE_P(Tree, NodeInfos,
                         ::testing::Values(InfoCase{"scalars", 0, 0, 0, 12}, InfoCase{"scalars.i32", R | W, 2, 1, 0},
                                           InfoCase{"scalars.u64", R | W, 5, 1, 0},
                                           InfoCase{"scalars.mode", R | W, 9, 1, 0},
                                           InfoCase{"scalars.fixed", R | C, 2, 1, 0},
                                           InfoCase{"scalars.readonly", R, 2, 1, 0},
                                           InfoCase{"scalars.writeonly", W, 2, 1, 0},
                                           InfoCase{"arrays.coeffs", R | W | A, 2, 4, 0},
                                           InfoCase{"arrays.one", R | W | A, 2, 1, 0},
                                           InfoCase{"arrays.empty", R | W | A, 6, 0, 0},
                                           InfoCase{"saved.gain", R | W | P, 6, 1, 0},
                                           InfoCase{"saved.reset", X, 0, 0, 0}, InfoCase{"secret", H, 0, 0, 1},
                                           InfoCase{"secret.key", R, 8, 1, 0}, InfoCase{"pin", R | W | H, 2, 1, 0},
                                           InfoCase{"adc", S, 0, 0, 0}),
    [](const auto& info) { return velnor::test::CaseName(info.param.path); });

TEST_F(Protocol, ChildrenInFileOrderWithoutHiddenOnes) {
    const i_NET::NodeInfo root = app.Lookup("", false);
    i_NET::NodeInfoSeq_var visible = app->children(root.id, false);
    EXPECT_EQ(Names(visible.in()),
              (std::vector<std::string>{"name", "scalars", "arrays", "texts", "saved", "live", "adc"}));
    i_NET::NodeInfoSeq_var all = app->children(root.id, true);
    EXPECT_EQ(Names(all.in()), (std::vector<std::string>{"name", "scalars", "arrays", "texts", "saved", "secret", "pin",
                                                         "live", "adc"}));
}

TEST_F(Protocol, HiddenNodesExistOnlyWhenExposed) {
    EXPECT_EQ(ErrorOf([&] { app.Lookup("secret.key", false); }), "NotFound secret.key");
    EXPECT_EQ(ErrorOf([&] { app.Lookup("pin", false); }), "NotFound pin");
    const i_NET::NodeInfo key = app.Lookup("secret.key", true);
    EXPECT_EQ(ErrorOf([&] { i_NET::NodeInfo_var n = app->node(key.id, false); }), "NotFound #" + std::to_string(key.id));
    EXPECT_EQ(ErrorOf([&] { i_NET::NodeInfoSeq_var n = app->children(app.Id("secret"), false); }),
              "NotFound #" + std::to_string(app.Id("secret")));
    EXPECT_EQ(app.Read("secret.key"), "s:s3cr3t");
}

TEST_F(Protocol, UnknownPathsAndForeignIds) {
    EXPECT_EQ(ErrorOf([&] { app.Lookup("scalars.nope"); }), "NotFound scalars.nope");
    RawRegistry platform(server.Port(), 0);
    const i_NET::NodeId foreign = platform.Id("firmware");
    EXPECT_EQ(ErrorOf([&] { i_NET::Values_var v = app->get(foreign, 0, 1); }), "NotFound #" + std::to_string(foreign));
    EXPECT_EQ(ErrorOf([&] { i_NET::Values_var v = app->get(0, 0, 1); }), "NotFound #0");
    EXPECT_EQ(ErrorOf([&] { i_NET::Values_var v = app->get(4000000000u, 0, 1); }), "NotFound #4000000000");
    EXPECT_EQ(platform.Read("firmware"), "s:fw-1.0");
    i_NET::NodeInfo_var root = platform->root();
    EXPECT_STREQ(root->name.in(), "test-host");
}

struct ReadCase {
    const char* path;
    unsigned pos;
    unsigned count;
    const char* expected;  // Describe() text or the error message
};

class Reads : public Protocol, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Reads, ValueOrError) {
    const ReadCase& c = GetParam();
    std::string got;
    const std::string error = ErrorOf([&] {
        i_NET::Values_var value = app->get(app.Id(c.path), c.pos, c.count);
        got = Describe(value.in());
    });
    EXPECT_EQ(error.empty() ? got : error, c.expected);
    if (c.count != 1) return;
    // The single-element read gives the same value or the same refusal.
    const std::string oneError = ErrorOf([&] {
        i_NET::Value_var value = app->getOne(app.Id(c.path), c.pos);
        got = Describe(value.in());
    });
    EXPECT_EQ(oneError.empty() ? got : oneError, c.expected) << "getOne";
}

INSTANTIATE_TEST_SUITE_P(
    Values, Reads,
    ::testing::Values(ReadCase{"scalars.i32", 0, 1, "i32:5"}, ReadCase{"scalars.u64", 0, 1, "u64:18446744073709551615"},
                      ReadCase{"scalars.f32", 0, 1, "f32:0.25"}, ReadCase{"scalars.mode", 0, 1, "s:slow"},
                      ReadCase{"texts.third", 0, 1, "f64:0.33333333333333331"},
                      ReadCase{"arrays.coeffs", 1, 2, "i32:1,2"}, ReadCase{"arrays.coeffs", 4, 0, "i32:"},
                      ReadCase{"arrays.names", 0, 2, "s:a,b,c"},
                      ReadCase{"arrays.coeffs", 3, 2, "Position 3 and count 2 exceed the size 4 of node arrays.coeffs"},
                      ReadCase{"arrays.coeffs", 4294967295u, 2,
                               "Position 4294967295 and count 2 exceed the size 4 of node arrays.coeffs"},
                      ReadCase{"arrays.coeffs", 0, 4294967295u,
                               "Position 0 and count 4294967295 exceed the size 4 of node arrays.coeffs"},
                      ReadCase{"scalars.writeonly", 0, 1, "Node scalars.writeonly is not readable"},
                      ReadCase{"saved.reset", 0, 1, "Node saved.reset has no value"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.path, info.index); });

struct WriteCase {
    const char* path;
    unsigned pos;
    std::function<i_NET::Values()> value;
    const char* expected;  // the node's value afterwards, or the error
};

class Writes : public Protocol, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Writes, AcceptedOrRefusedWithoutChange) {
    const WriteCase& c = GetParam();
    auto readBack = [&] {
        std::string value;
        const std::string error = ErrorOf([&] { value = app.Read(c.path); });
        return error.empty() ? value : error;
    };
    const std::string before = readBack();
    const std::string error = ErrorOf([&] { app->set(app.Id(c.path), c.pos, c.value()); });
    if (error.empty()) {
        EXPECT_EQ(readBack(), c.expected);
    } else {
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(readBack(), before);
    }
    // A run of one again through the single-element write: the same outcome
    // (these writes are idempotent).
    const std::optional<i_NET::Value> one = OneOf(c.value());
    if (!one) return;
    const std::string oneError = ErrorOf([&] { app->setOne(app.Id(c.path), c.pos, *one); });
    EXPECT_EQ(oneError, error) << "setOne";
    EXPECT_EQ(readBack(), error.empty() ? c.expected : before) << "setOne";
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, Writes,
    ::testing::Values(WriteCase{"scalars.i32", 0, [] { return Doubles({-7.0}); }, "i32:-7"},
                      WriteCase{"scalars.f64", 0, [] { return Ints({5}); }, "f64:5"},
                      WriteCase{"scalars.f64", 0, [] { return Doubles({std::nan("")}); }, "f64:nan"},
                      WriteCase{"scalars.u32", 0, [] { return Int64s({42}); }, "u32:42"},
                      WriteCase{"scalars.i64", 0, [] { return UInt64s({9000000000ull}); }, "i64:9000000000"},
                      WriteCase{"scalars.u64", 0, [] { return Int64s({0}); }, "u64:0"},
                      WriteCase{"scalars.flag", 0, [] { return Ints({1}); }, "b:true"},
                      WriteCase{"scalars.flag", 0, [] { return Bools({true}); }, "b:true"},
                      WriteCase{"scalars.f32", 0, [] { return Doubles({0.1}); }, "f32:0.10000000149011612"},
                      WriteCase{"scalars.mode", 0, [] { return Strings({"fast"}); }, "s:fast"},
                      WriteCase{"scalars.text", 0, [] { return Strings({"x y, z"}); }, "s:x y, z"},
                      WriteCase{"scalars.writeonly", 0, [] { return Ints({9}); },
                                "Node scalars.writeonly is not readable"},
                      WriteCase{"arrays.coeffs", 1, [] { return Ints({7, 8}); }, "i32:0,7,8,3"},
                      WriteCase{"arrays.coeffs", 4, [] { return Ints({}); }, "i32:0,1,2,3"},
                      WriteCase{"arrays.bits", 0, [] { return Bools({false, true, false}); }, "b:false,true,false"},
                      WriteCase{"pin", 0, [] { return Ints({4321}); }, "i32:4321"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.path, info.index); });

INSTANTIATE_TEST_SUITE_P(
    Refused, Writes,
    ::testing::Values(
        WriteCase{"scalars.fixed", 0, [] { return Ints({2}); }, "Node scalars.fixed is constant"},
        WriteCase{"scalars.readonly", 0, [] { return Ints({3}); }, "Node scalars.readonly is not writable"},
        WriteCase{"saved.reset", 0, [] { return Ints({1}); }, "Node saved.reset is not writable"},
        WriteCase{"scalars.i32", 0, [] { return Ints({11}); }, "Value 11 is out of range [-10, 10] for node scalars.i32"},
        WriteCase{"scalars.i32", 0, [] { return Doubles({1.5}); },
                  "Value 1.5 does not fit the type int32 of node scalars.i32"},
        WriteCase{"scalars.i32", 0, [] { return Int64s({4294967296ll}); },
                  "Value 4294967296 does not fit the type int32 of node scalars.i32"},
        WriteCase{"scalars.u32", 0, [] { return Ints({-1}); }, "Value -1 does not fit the type uint32 of node scalars.u32"},
        WriteCase{"scalars.u64", 0, [] { return Doubles({-1.0}); },
                  "Value -1 does not fit the type uint64 of node scalars.u64"},
        WriteCase{"scalars.i64", 0, [] { return UInt64s({18446744073709551615ull}); },
                  "Value 18446744073709551615 does not fit the type int64 of node scalars.i64"},
        WriteCase{"scalars.f64", 0, [] { return Int64s({9007199254740993ll}); },
                  "Value 9007199254740993 does not fit the type double of node scalars.f64"},
        WriteCase{"scalars.f32", 0, [] { return Doubles({1e300}); },
                  "Value 1e+300 does not fit the type float of node scalars.f32"},
        WriteCase{"scalars.flag", 0, [] { return Ints({2}); }, "Value 2 does not fit the type bool of node scalars.flag"},
        // NaN lies in no range.
        WriteCase{"saved.gain", 0, [] { return Doubles({std::nan("")}); },
                  "Value nan is out of range [0, 10] for node saved.gain"},
        WriteCase{"scalars.f32", 0, [] { return Floats({std::nanf("")}); },
                  "Value nan is out of range [-1, 1] for node scalars.f32"},
        WriteCase{"scalars.f32", 0, [] { return Doubles({std::nan("")}); },
                  "Value nan is out of range [-1, 1] for node scalars.f32"},
        WriteCase{"scalars.f64", 0, [] { return Strings({"1.5"}); },
                  "Value '1.5' does not fit the type double of node scalars.f64"},
        WriteCase{"scalars.text", 0, [] { return Ints({1}); }, "Value 1 does not fit the type string of node scalars.text"},
        WriteCase{"scalars.mode", 0, [] { return Strings({"medium"}); },
                  "Value 'medium' is not in the domain of node scalars.mode"},
        WriteCase{"scalars.i32", 1, [] { return Ints({1}); }, "Position 1 and count 1 exceed the size 1 of node scalars.i32"},
        WriteCase{"arrays.coeffs", 3, [] { return Ints({1, 2}); },
                  "Position 3 and count 2 exceed the size 4 of node arrays.coeffs"},
        WriteCase{"arrays.coeffs", 0, [] { return Ints({9, 200, 9}); },
                  "Value 200 is out of range [0, 100] for node arrays.coeffs"},
        WriteCase{"arrays.bits", 0, [] { return Ints({1, 0, 5}); },
                  "Value 5 does not fit the type bool of node arrays.bits"},
        WriteCase{"scalars.i32", 0,
                  [] {
                      i_NET::Values none;
                      none._default();
                      return none;
                  },
                  "The value written to node scalars.i32 has no element type"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.path, info.index); });

struct TextCase {
    const char* path;
    unsigned maxLength;
    const char* text;
};

class Texts : public Protocol, public ::testing::WithParamInterface<TextCase> {};

TEST_P(Texts, RenderedAndCut) { EXPECT_EQ(Text(GetParam().path, GetParam().maxLength), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Values, Texts,
    ::testing::Values(TextCase{"scalars.f64", 0, "0.5"}, TextCase{"texts.third", 0, "0.333333333333333"},
                      TextCase{"scalars.f32", 80, "0.25"}, TextCase{"scalars.u64", 0, "18446744073709551615"},
                      TextCase{"scalars.flag", 0, "false"}, TextCase{"arrays.coeffs", 0, "[0,1,2,3]"},
                      TextCase{"arrays.bits", 0, "[true,false,true]"}, TextCase{"arrays.one", 0, "[5]"},
                      TextCase{"arrays.empty", 0, "[]"}, TextCase{"arrays.names", 0, "[a,b,c]"},
                      TextCase{"texts.long", 10, "abcdefghij..."},
                      TextCase{"texts.long", 26, "abcdefghijklmnopqrstuvwxyz"},
                      TextCase{"texts.long", 25, "abcdefghijklmnopqrstuvwxy..."},
                      TextCase{"texts.wide", 4, "äöü€..."}, TextCase{"texts.wide", 7, "äöü€xyz"},
                      TextCase{"arrays.coeffs", 4, "[0,1..."}, TextCase{"scalars.writeonly", 0, ""},
                      TextCase{"saved.reset", 0, ""}, TextCase{"adc", 0, ""}),
    [](const auto& info) { return velnor::test::CaseName(info.param.path, info.index); });

TEST_F(Protocol, DomainAndValidatorOnlyWhereGiven) {
    i_NET::StringSeq_var domain;
    EXPECT_TRUE(app->domainValues(app.Id("scalars.mode"), domain.out()));
    ASSERT_EQ(domain->length(), 3u);
    EXPECT_STREQ(domain[2].in(), "fast");
    EXPECT_FALSE(app->domainValues(app.Id("scalars.i32"), domain.out()));
    EXPECT_EQ(domain->length(), 0u);

    CORBA::String_var expr;
    EXPECT_TRUE(app->validatorExpression(app.Id("scalars.mode"), expr.out()));
    EXPECT_STREQ(expr.in(), "mode != fast");
    EXPECT_FALSE(app->validatorExpression(app.Id("scalars.i32"), expr.out()));
    EXPECT_STREQ(expr.in(), "");
}

TEST_F(Protocol, ExecuteAppliesSetsAndGivesTheResult) {
    app->set(app.Id("saved.gain"), 0, Doubles({7.5}));
    app->set(app.Id("saved.table"), 1, Ints({9}));
    EXPECT_TRUE(app->execute(app.Id("saved.reset")));
    EXPECT_EQ(app.Read("saved.gain"), "f64:1");
    EXPECT_EQ(app.Read("saved.table"), "i32:0,0,0");
    EXPECT_FALSE(app->execute(app.Id("saved.refuse")));
    EXPECT_EQ(ErrorOf([&] { app->execute(app.Id("scalars.i32")); }), "Node scalars.i32 is not executable");
}

}  // namespace
}  // namespace velnor::test
