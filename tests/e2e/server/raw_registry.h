#pragma once
// A bare protocol client for testing velnor-registryd below the client
// library: the generated stubs, one ORB per test process.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "idl/registry.hh"

namespace velnor::test {

// The process's ORB; it offers bidirectional GIOP like the client library.
CORBA::ORB_ptr TestOrb();

class RawRegistry {
public:
    // Root 1 (application) or 0 (platform) of the server on `port`.
    explicit RawRegistry(int port, int root = 1);
    i_NET::Registry_ptr operator->() const { return m_ref.in(); }
    i_NET::NodeInfo Lookup(const std::string& dottedPath, bool exposeHidden = false) const;
    i_NET::NodeId Id(const std::string& dottedPath) const { return Lookup(dottedPath, true).id; }
    // The whole value of a node as Describe() writes it.
    std::string Read(const std::string& dottedPath) const;

private:
    i_NET::Registry_var m_ref;
};

i_NET::StringSeq Path(const std::string& dottedPath);

i_NET::Values Bools(const std::vector<bool>& v);
i_NET::Values Ints(const std::vector<int>& v);
i_NET::Values UInts(const std::vector<unsigned>& v);
i_NET::Values Int64s(const std::vector<long long>& v);
i_NET::Values UInt64s(const std::vector<unsigned long long>& v);
i_NET::Values Doubles(const std::vector<double>& v);
i_NET::Values Floats(const std::vector<float>& v);
i_NET::Values Strings(const std::vector<std::string>& v);

// "i32:1,2,3", "f64:0.5", "s:a,b", "b:true,false", ...
std::string Describe(const i_NET::Values& values);
// One element as Describe(Values) writes a run of one.
std::string Describe(const i_NET::Value& value);
// The single element of a run of one, for getOne/setOne; nullopt otherwise.
std::optional<i_NET::Value> OneOf(const i_NET::Values& values);

// The message of the RegistryError (or "NotFound <path>") a call raised,
// or "" when it raised nothing.
template <class F>
std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const i_NET::RegistryError& e) {
        return std::string(e.message.in());
    } catch (const i_NET::NotFound& e) {
        return "NotFound " + std::string(e.path.in());
    }
    return std::string();
}

struct Received {
    std::string path;   // relPath joined with "."
    std::string value;  // Describe()
    unsigned first = 0;
};

inline bool operator==(const Received& a, const Received& b) {
    return a.path == b.path && a.value == b.value && a.first == b.first;
}
inline void PrintTo(const Received& r, std::ostream* os) { *os << r.path << "[" << r.first << "]=" << r.value; }

// A notification sink that records what it receives; with `failing` set it
// raises on every delivery, as a client that went away would.
class RecordingSink : public POA_i_NET::NotificationSink {
public:
    explicit RecordingSink(bool failing = false) : m_failing(failing) {}
    void notify(const i_NET::NotificationSeq& batch) override;

    // Waits until at least `count` notifications arrived; gives all so far.
    std::vector<Received> WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::size_t Calls();
    // Waits until notify was called at least `count` times; gives the calls.
    std::size_t WaitForCalls(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    i_NET::NotificationSink_ptr Reference() const { return m_ref.in(); }

private:
    friend std::shared_ptr<RecordingSink> MakeSink(bool failing);
    const bool m_failing;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<Received> m_received;
    std::size_t m_calls = 0;
    i_NET::NotificationSink_var m_ref;
};

// An activated sink; dropping the last holder deactivates it, and the POA
// deletes it once no call is running in it.
std::shared_ptr<RecordingSink> MakeSink(bool failing = false);

}  // namespace velnor::test
