// The listener in-process, against a real registry server: the line format
// of each kind of notification, the one instance, whole lines under
// concurrent deliveries and errors that never escape into the library.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "listen_session.h"
#include "mci/mci.h"
#include "support/server_per_suite.h"
#include "velnor-rove-listener.h"

namespace listen_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

class ListenerTest : public velnor::test::ServerPerSuite<ListenerTest> {
public:
    static constexpr const char* c_tree = "listen-values.yaml";

protected:
    static mci::Node At(const std::string& path) {
        const mci::Node root = mci::Connect("", mci::eApplicationRoot, s_server->Port(), false);
        return root.GetNode(mci::Tokenize(path));
    }
    static mci::NotificationData Data(const std::string& path, istd::Any value, std::uint32_t first) {
        mci::NotificationData data;
        data.node = At(path);
        data.value = std::move(value);
        data.first = first;
        return data;
    }
};

// A text buffer that may be read while another thread writes to it.
class LockedBuffer : public std::streambuf {
public:
    std::string Text() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_text;
    }

protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        std::lock_guard<std::mutex> lock(m_lock);
        m_text.push_back(traits_type::to_char_type(ch));
        return ch;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_text.append(text, static_cast<std::size_t>(count));
        return count;
    }

private:
    mutable std::mutex m_lock;
    std::string m_text;
};

// Takes over a standard stream for the life of the object.
class Capture {
public:
    explicit Capture(std::ostream& stream) : m_stream(stream), m_previous(stream.rdbuf(&m_buffer)) {}
    ~Capture() { m_stream.rdbuf(m_previous); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string Text() const { return m_buffer.Text(); }

private:
    std::ostream& m_stream;
    LockedBuffer m_buffer;
    std::streambuf* m_previous;
};

istd::Any Elements(std::size_t count, unsigned int start = 1) {
    std::vector<unsigned int> values;
    for (std::size_t i = 0; i < count; ++i) values.push_back(start + static_cast<unsigned int>(i));
    return istd::Any(values, true);
}

struct RangeCase {
    const char* name;
    const char* path;
    istd::Any value;
    std::uint32_t first;
    const char* line;
};

TEST_F(ListenerTest, LineOfEachKindOfNotification) {
    const RangeCase cases[] = {
        {"scalar", "scalars.count", istd::Any::Scalar(7), 0, "listen-host.scalars.count=7"},
        {"text", "scalars.label", istd::Any::Scalar(std::string("a b")), 0, "listen-host.scalars.label=a b"},
        {"whole array", "table", Elements(10), 0, "listen-host.table=[1,2,3,4,5,6,7,8,9,10]"},
        {"one element", "table", Elements(1, 9), 5, "listen-host.table[5]=[9]"},
        {"first element alone", "table", Elements(1, 9), 0, "listen-host.table[0]=[9]"},
        {"three elements", "table", Elements(3), 2, "listen-host.table[2:4]=[1,2,3]"},
        {"full count from index 1 is still ranged", "table", Elements(10), 1,
         "listen-host.table[1:10]=[1,2,3,4,5,6,7,8,9,10]"},
        {"last index in 32-bit arithmetic", "table", Elements(2), 4294967295u, "listen-host.table[4294967295:0]=[1,2]"},
        {"pair from 0 is whole", "pair", Elements(2), 0, "listen-host.pair=[1,2]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NotificationLine(Data(c.path, c.value, c.first), std::cout), c.line);
    }
}

TEST_F(ListenerTest, ConcurrentFirstCallsShareOneInstance) {
    std::vector<VelnorRoveListener*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = VelnorRoveListener::Instance(); });
    for (auto& t : threads) t.join();
    for (auto* listener : seen) EXPECT_EQ(listener, VelnorRoveListener::Instance());
}

// Deliveries on many threads at once: every line arrives whole.
TEST_F(ListenerTest, ConcurrentDeliveriesNeverInterleave) {
    constexpr int c_threads = 6;
    constexpr int c_perThread = 300;
    std::vector<mci::NotificationData> data;
    for (int t = 0; t < c_threads; ++t) data.push_back(Data("table", Elements(3, 1000u * t), 4));
    VelnorRoveListener* listener = VelnorRoveListener::Instance();
    std::string out;
    {
        Capture capture(std::cout);
        std::vector<std::thread> threads;
        for (int t = 0; t < c_threads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < c_perThread; ++i) listener->CallbackSimpleNotification(data[t]);
            });
        for (auto& t : threads) t.join();
        out = capture.Text();
    }
    std::map<std::string, int> counts;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) ++counts[line];
    std::map<std::string, int> expected;
    for (int t = 0; t < c_threads; ++t) expected[NotificationLine(data[t], std::cout)] = c_perThread;
    EXPECT_EQ(counts, expected);
}

TEST_F(ListenerTest, FailureWhilePrintingIsReportedNotThrown) {
    mci::NotificationData broken;  // no node: every query of it fails
    broken.value = istd::Any::Scalar(1);
    std::string reason;
    try {
        broken.node.GetFullPath(false);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    ASSERT_NE(reason, "");
    Capture out(std::cout);
    Capture err(std::cerr);
    EXPECT_NO_THROW(VelnorRoveListener::Instance()->CallbackSimpleNotification(broken));
    EXPECT_EQ(err.Text(), "Error: " + reason + "\n");
    EXPECT_EQ(out.Text(), "");
}

// The whole path: a node registered with the listener prints the server's
// notification of a write made by another client.
TEST_F(ListenerTest, RegisteredNodePrintsWritesOfOthers) {
    mci::Node node = At("scalars.label");
    std::string out;
    {
        Capture capture(std::cout);
        VelnorRoveListener::Instance()->Register(node);
        Write(*s_server, {"scalars.label=from outside"});
        for (int i = 0; i < 1000 && capture.Text().find("outside\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        out = capture.Text();
        // No line may reach the stream once the capture is gone.
        VelnorRoveListener::ReleaseInstanceSubscriptions();
    }
    EXPECT_EQ(out, "\tlabel\nlisten-host.scalars.label=from outside\n");
}

}  // namespace
}  // namespace listen_test
