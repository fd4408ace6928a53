#pragma once
// A velnor-registryd with the library's fixture tree, shared by the tests
// of one suite, and a collector for notifications.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "mci/mci.h"
#include "support/registry_server.h"
#include "support/server_per_suite.h"

namespace mcitest {

class RegistryTest : public velnor::test::ServerPerSuite<RegistryTest> {
public:
    static constexpr const char* c_tree = "mci-values.yaml";

    static int Port() { return s_server->Port(); }
    static mci::Node Root(mci::Root root = mci::eApplicationRoot, bool fresh = false) {
        mci::Node node = mci::Connect("", root, Port(), fresh);
        EXPECT_TRUE(node.IsValid()) << "no registry on port " << Port();
        return node;
    }
    static mci::Node At(const std::string& path) { return Root().GetNode(mci::Tokenize(path)); }
};

// What a notification said, copied out of the delivery thread.
struct Received {
    std::string path;
    std::string value;  // istd::Any written with its output operator
    bool isArray = false;
    std::uint32_t first = 0;
};

class NotificationLog {
public:
    mci::Callback MakeCallback() {
        mci::Callback callback;
        callback.function = [this](const mci::NotificationData& data) { Add(data); };
        return callback;
    }
    // The first `count` notifications, or fewer when they do not come
    // within the time-out.
    std::vector<Received> WaitFor(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
        return m_received;
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received.size();
    }

private:
    void Add(const mci::NotificationData& data) {
        Received r;
        r.path = mci::ToString(data.node.GetFullPath(true));
        std::ostringstream text;
        text << data.value;
        r.value = text.str();
        r.isArray = data.value.IsArray();
        r.first = data.first;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.push_back(r);
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Received> m_received;
};

// Message of the istd::Exception that `call` throws; fails the test when
// it throws nothing or something else.
template <class F>
std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const istd::Exception& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not an istd::Exception: " << e.what();
        return "";
    }
    ADD_FAILURE() << "no exception";
    return "";
}

}  // namespace mcitest
