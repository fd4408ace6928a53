// The value store in process: write checks, change reports and the state
// file round trip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>

#include "istd/yaml_text.h"
#include "loader.h"
#include "value_store.h"

namespace velnor::server {
namespace {

const char* const c_tree =
    "host: h\n"
    "application:\n"
    "  nodes:\n"
    "    gain: {type: double, value: 1.5, flags: [writable, persistent], min: 0, max: 10}\n"
    "    tiny: {type: float, value: 0.1, flags: [writable, persistent]}\n"
    "    mode: {type: enum, domain: [\"off\", \"on\", \"a b\"], value: \"off\", flags: [writable, persistent]}\n"
    "    big: {type: uint64, value: [18446744073709551615, 0], flags: [writable, persistent]}\n"
    "    plain: {type: int32, value: [1, 2, 3], flags: [writable]}\n"
    "    \"null\": {type: float, value: [0, 0], flags: [writable, persistent]}\n"
    "platform:\n"
    "  nodes:\n"
    "    word: {type: string, value: \"x\", flags: [writable, persistent]}\n";

class RecordingChanges : public ChangeSink {
public:
    void OnChange(const Node& node, const Change& change) override {
        log << node.name << "@" << change.first << "=" << ValueText(*change.values, true, 0) << ";";
    }
    std::ostringstream log;
};

const Node& Named(const ValueStore& store, Root root, const std::string& name) {
    return store.Visible(root, std::vector<std::string>{name}, true);
}

TEST(Store, EveryAcceptedWriteIsReportedOnce) {
    ValueStore store(LoadTreeText(c_tree, "t.yaml", "h"));
    RecordingChanges changes;
    store.SetChangeSink(&changes);
    const Node& plain = Named(store, Root::Application, "plain");
    store.Set(plain, 1, Elements(std::vector<double>{7.0, 8.0}));
    EXPECT_THROW(store.Set(plain, 2, Elements(std::vector<int>{1, 2})), RegistryError);
    store.Set(plain, 3, Elements(std::vector<int>{}));
    EXPECT_EQ(changes.log.str(), "plain@1=[7,8];");
    EXPECT_EQ(ValueText(store.Current(plain), true, 0), "[1,7,8]");
}

TEST(Store, StateFileRoundTripsEveryValueExactly) {
    const std::string dir = std::filesystem::temp_directory_path() / ("velnor-store-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/state.yaml";
    {
        ValueStore store(LoadTreeText(c_tree, "t.yaml", "h"));
        store.SetStateFile(std::make_unique<StateFile>(path));
        store.Set(Named(store, Root::Application, "gain"), 0, Elements(std::vector<double>{0.1 + 0.2}));
        store.Set(Named(store, Root::Application, "tiny"), 0, Elements(std::vector<float>{1.0f / 3}));
        store.Set(Named(store, Root::Application, "mode"), 0, Elements(std::vector<std::string>{"a b"}));
        store.Set(Named(store, Root::Application, "big"), 1, Elements(std::vector<unsigned long long>{42}));
        store.Set(Named(store, Root::Application, "null"), 0, Elements(std::vector<float>{3.4028235e38f, -std::numeric_limits<float>::quiet_NaN()}));
        // A text that looks like an end line stays inside its quotes.
        store.Set(Named(store, Root::Platform, "word"), 0,
                  Elements(std::vector<std::string>{"true: \"q\"\n# end of state, entries: 0, crc32: 00000000\n\xff"}));
    }
    ValueStore fresh(LoadTreeText(c_tree, "t.yaml", "h"));
    std::ostringstream warnings;
    fresh.Restore(StateFile(path).Load(fresh.GetTree(), warnings));
    EXPECT_EQ(warnings.str(), "");
    EXPECT_EQ(std::get<std::vector<double>>(fresh.Current(Named(fresh, Root::Application, "gain")))[0], 0.1 + 0.2);
    EXPECT_EQ(std::get<std::vector<float>>(fresh.Current(Named(fresh, Root::Application, "tiny")))[0], 1.0f / 3);
    EXPECT_EQ(ValueText(fresh.Current(Named(fresh, Root::Application, "mode")), false, 0), "a b");
    EXPECT_EQ(ValueText(fresh.Current(Named(fresh, Root::Application, "big")), true, 0), "[18446744073709551615,42]");
    EXPECT_EQ(ValueText(fresh.Current(Named(fresh, Root::Platform, "word")), false, 0),
              "true: \"q\"\n# end of state, entries: 0, crc32: 00000000\n\xff");
    const auto floats = std::get<std::vector<float>>(fresh.Current(Named(fresh, Root::Application, "null")));
    EXPECT_EQ(istd::YamlFloating(floats[0]) + " " + istd::YamlFloating(floats[1]), "3.4028235e+38 .nan(0xffc00000)");
    std::filesystem::remove_all(dir);
}

TEST(StateFileFormat, Crc32IsZlibs) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

}  // namespace
}  // namespace velnor::server
