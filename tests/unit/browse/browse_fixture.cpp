#include "browse_fixture.h"

#include <map>

#include "mci/mci.h"

namespace browse::test {
namespace {

using namespace mci::enums;
constexpr std::uint32_t R = mci::eReadable, W = mci::eWritable, C = mci::eConstant, X = mci::eExecutable,
                        A = mci::eArray, P = mci::ePersistent, S = mci::eSignal, H = mci::eHidden;

// The demo registry, level by level, in file order.
const std::vector<DemoNode> c_demo = {
    {"app-name", eString, R | W, 1, 0, "Velnor demo"},
    {"version", eString, R | C, 1, 0, "2.8.167"},
    {"tracing", eNoValue, 0, 0, 2, nullptr},
    {"tracing.level", eInt32, R | W, 1, 0, "0"},
    {"tracing.file", eString, R | W, 1, 0, "/tmp/velnor-demo.trace"},
    {"acquisition", eNoValue, 0, 0, 5, nullptr},
    {"acquisition.running", eBool, R | W, 1, 0, "false"},
    {"acquisition.run-number", eUInt32, R | W | P, 1, 0, "1"},
    {"acquisition.events", eUInt64, R, 1, 0, "42"},
    {"acquisition.start", eNoValue, X, 0, 0, nullptr},
    {"acquisition.stop", eNoValue, X, 0, 0, nullptr},
    {"boards", eNoValue, 0, 0, 2, nullptr},
    {"boards.board0", eNoValue, 0, 0, 14, nullptr},
    {"boards.board0.serial", eString, R | C, 1, 0, "VB-2041-0017"},
    {"boards.board0.gain", eDouble, R | W | P, 1, 0, "1.5"},
    {"boards.board0.offset", eFloat, R | W, 1, 0, "-0.25"},
    {"boards.board0.mode", eEnum, R | W | P, 1, 0, "slow"},
    {"boards.board0.coeffs", eInt32, R | W | A, 4, 0, "[0,1,2,3]"},
    {"boards.board0.weights", eDouble, R | W | A, 4, 0, "[0.5,0.25,0.125,0.0625]"},
    {"boards.board0.channel-enabled", eBool, R | W | A, 4, 0, "[true,true,false,true]"},
    {"boards.board0.sample-clock", eUInt32, R, 1, 0, "100000000"},
    {"boards.board0.lmt-offset", eInt64, R, 1, 0, "-4200000000"},
    {"boards.board0.temperature", eDouble, R, 1, 0, "41.6698913807202"},
    {"boards.board0.heartbeat", eBool, R, 1, 0, "false"},
    {"boards.board0.adc", eNoValue, S, 0, 0, nullptr},
    {"boards.board0.reset", eNoValue, X, 0, 0, nullptr},
    {"boards.board0.calibration", eNoValue, H, 0, 2, nullptr},
    {"boards.board0.calibration.gain-trim", eDouble, R | W | P, 1, 0, "0.9987"},
    {"boards.board0.calibration.dac-codes", eUInt32, R | W | A, 4, 0, "[2048,2047,2049,2050]"},
    {"boards.board1", eNoValue, 0, 0, 6, nullptr},
    {"boards.board1.serial", eString, R | C, 1, 0, "VB-2041-0023"},
    {"boards.board1.gain", eDouble, R | W | P, 1, 0, "2"},
    {"boards.board1.mode", eEnum, R | W, 1, 0, "fast"},
    {"boards.board1.coeffs", eInt32, R | W | A, 4, 0, "[4,5,6,7]"},
    {"boards.board1.temperature", eDouble, R, 1, 0, "40.6188164620414"},
    {"boards.board1.reset", eNoValue, X, 0, 0, nullptr},
    {"trigger", eNoValue, 0, 0, 5, nullptr},
    {"trigger.level", eDouble, R | W, 1, 0, "0.1"},
    {"trigger.source", eEnum, R | W, 1, 0, "internal"},
    {"trigger.ramp", eInt32, R, 1, 0, "600"},
    {"trigger.history", eNoValue, S, 0, 0, nullptr},
    {"trigger.fire", eNoValue, X, 0, 0, nullptr},
};

const DemoNode* Find(const std::string& path) {
    for (const auto& n : c_demo)
        if (path == n.path) return &n;
    return nullptr;
}

}  // namespace

NodeFacts Facts(const DemoNode& node) {
    NodeFacts f;
    f.path = node.path;
    f.name = LastName(f.path);
    f.type = node.type;
    f.flags = node.flags;
    f.size = node.size;
    f.childCount = node.children;
    return f;
}

ChildrenResult DemoLevel(const std::string& path) {
    ChildrenResult level;
    level.path = path;
    level.issued = T0();
    for (const auto& n : c_demo) {
        if (ParentPath(n.path) != path || std::string(n.path).empty()) continue;
        ChildRow row;
        row.facts = Facts(n);
        row.hasValue = n.value != nullptr;
        row.value = n.value ? n.value : "";
        level.children.push_back(row);
    }
    return level;
}

StartedResult DemoStart(const std::string& path) {
    StartedResult started;
    started.address = "127.0.0.1:17520/application";
    if (path.empty()) {
        started.start.name = "demo-host";
        started.start.childCount = 6;
    } else {
        started.start = Facts(*Find(path));
        started.startHasValue = Find(path)->value != nullptr;
        started.startValue = started.startHasValue ? Find(path)->value : "";
    }
    return started;
}

Details DemoDetails(const std::string& path) {
    Details d;
    d.hostName = "demo-host";
    if (path.empty()) {
        d.facts = DemoStart().start;
        d.parentName = "none (the registry root)";
    } else {
        const DemoNode& n = *Find(path);
        d.facts = Facts(n);
        const std::string parent = ParentPath(path);
        d.parentName = parent.empty() ? "demo-host (the registry root)" : LastName(parent);
    }
    for (const auto& row : DemoLevel(path).children) d.children.push_back(row.facts.name);
    static const std::map<std::string, istd::Any> values = {
        {"boards.board0.gain", istd::Any::Scalar(1.5)},
        {"boards.board0.mode", istd::Any::Scalar(std::string("slow"))},
        {"boards.board0.coeffs", istd::Any(std::vector<int>{0, 1, 2, 3}, true)},
        {"boards.board0.channel-enabled", istd::Any(std::vector<bool>{true, true, false, true}, true)},
        {"boards.board0.serial", istd::Any::Scalar(std::string("VB-2041-0017"))},
        {"boards.board0.sample-clock", istd::Any::Scalar(100000000u)},
        {"boards.board0.lmt-offset", istd::Any::Scalar(-4200000000LL)},
        {"acquisition.running", istd::Any::Scalar(false)},
        {"acquisition.events", istd::Any::Scalar(42ULL)},
        {"boards.board0.offset", istd::Any::Scalar(-0.25f)},
    };
    auto it = values.find(path);
    if (it != values.end()) {
        d.hasValue = true;
        d.value = it->second;
        d.elementsShown = static_cast<std::uint32_t>(it->second.Size());
    }
    if (path == "boards.board0.mode") {
        d.hasDomain = true;
        d.domain = {"off", "slow", "fast"};
    }
    if (path == "boards.board0.sample-clock") {
        d.hasValidator = true;
        d.validator = "value % 1000 == 0";
    }
    if (path == "boards.board0.gain") d.bounds = "[0, 10]";
    return d;
}

BrowseFixture::BrowseFixture(int cols, int rows, BrowserOptions options) : browser(options, sink) {
    browser.Resize(cols, rows);
    browser.Start();
    browser.Apply(DemoStart(options.startPath), now);
    browser.Apply(StateResult{Connection_e::eConnected, std::string()}, now);
    Answer();
}

void BrowseFixture::Answer() {
    while (answered < sink.requests.size()) {
        const Request request = sink.requests[answered++];
        if (const auto* load = std::get_if<LoadChildrenRequest>(&request))
            browser.Apply(DemoLevel(load->path), now);
        else if (const auto* details = std::get_if<DetailsRequest>(&request))
            browser.Apply(DetailsResult{details->path, DemoDetails(details->path)}, now);
    }
}

void BrowseFixture::Press(const browse::Key& key) {
    browser.HandleKey(key, now);
    Answer();
}

void BrowseFixture::Type(const std::string& chars) {
    for (char c : chars) Press(Key::Char(static_cast<char32_t>(c)));
}

Screen BrowseFixture::Draw(Theme theme) {
    Screen screen;
    Render(browser, theme, now, screen);
    return screen;
}

std::string BrowseFixture::Text(Theme theme) { return Draw(theme).grid.text(); }

}  // namespace browse::test
