#pragma once
// A browser fed with levels of the demo registry (examples/demo.yaml) as the
// worker would read them, and a sink that records what it asks the worker.
#include <chrono>
#include <string>
#include <vector>

#include "browse/browser.h"
#include "browse/renderer.h"

namespace browse::test {

class RecordingSink : public RequestSink {
public:
    void Send(Request request) override { requests.push_back(std::move(request)); }
    // The requests of one kind sent so far.
    template <class R>
    std::vector<R> Sent() const {
        std::vector<R> found;
        for (const auto& r : requests)
            if (const R* one = std::get_if<R>(&r)) found.push_back(*one);
        return found;
    }
    std::vector<Request> requests;
};

// One node as a level read gives it: path, type code, flags, size,
// children, value ("" with hasValue false for none).
struct DemoNode {
    const char* path;
    int type;
    std::uint32_t flags;
    std::uint32_t size;
    std::uint32_t children;
    const char* value;  // nullptr: no value shown
};

NodeFacts Facts(const DemoNode& node);
// The level below `path` of the demo registry.
ChildrenResult DemoLevel(const std::string& path);
StartedResult DemoStart(const std::string& path = std::string());
Details DemoDetails(const std::string& path);

// A fixed time: highlights are given relative to it.
inline SteadyTime T0() { return SteadyTime{} + std::chrono::hours(1); }

struct BrowseFixture {
    explicit BrowseFixture(int cols = 80, int rows = 24, BrowserOptions options = {});
    // Answers the requests sent so far the way the demo registry would
    // (levels and details); new requests that follow are answered too.
    void Answer();
    void Press(const Key& key);
    void Type(const std::string& chars);
    std::string Text(Theme theme = Theme::Monochrome());
    Screen Draw(Theme theme = Theme::Monochrome());

    RecordingSink sink;
    Browser browser;
    SteadyTime now = T0();
    std::size_t answered = 0;
};

}  // namespace browse::test
