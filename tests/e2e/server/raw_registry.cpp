#include "raw_registry.h"

#include <optional>

#include <omniORB4/omniORB.h>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "velnor/wire.h"

namespace velnor::test {

namespace {

PortableServer::POA_ptr SinkPoa();

}  // namespace

namespace {

PortableServer::POA_ptr SinkPoa() {
    static PortableServer::POA_var poa = [] {
        CORBA::ORB_ptr orb = TestOrb();
        CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
        PortableServer::POA_var root = PortableServer::POA::_narrow(object);
        CORBA::PolicyList policies;
        policies.length(1);
        CORBA::Any bidir;
        bidir <<= BiDirPolicy::BOTH;
        policies[0] = orb->create_policy(BiDirPolicy::BIDIRECTIONAL_POLICY_TYPE, bidir);
        PortableServer::POAManager_var manager = root->the_POAManager();
        PortableServer::POA_var child = root->create_POA("sinks", manager, policies);
        manager->activate();
        return child;
    }();
    return poa.in();
}

template <class Seq, class T>
Seq SeqOf(const std::vector<T>& v) {
    Seq seq;
    seq.length(static_cast<CORBA::ULong>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) seq[static_cast<CORBA::ULong>(i)] = v[i];
    return seq;
}

template <class Seq>
std::string Join(const char* tag, const Seq& seq) {
    std::ostringstream out;
    out.precision(17);
    out << tag << ":";
    for (CORBA::ULong i = 0; i < seq.length(); ++i) out << (i ? "," : "") << seq[i];
    return out.str();
}

}  // namespace

namespace {

CORBA::ORB_var& OrbHolder() {
    static CORBA::ORB_var orb;
    return orb;
}

// Ends the ORB's threads before static destruction begins, so that none of
// them touches the ORB's statics while they are torn down.
class OrbEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        CORBA::ORB_var& orb = OrbHolder();
        if (!CORBA::is_nil(orb)) orb->destroy();
    }
};

// gtest owns registered environments.
const ::testing::Environment* const c_orbEnvironment = ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

}  // namespace

CORBA::ORB_ptr TestOrb() {
    static CORBA::ORB_ptr orb = [] {
        const std::string maxMessage = std::to_string(velnor::wire::c_maxMessageBytes);
        const char* options[][2] = {{"offerBiDirectionalGIOP", "1"},
                                    {"clientTransportRule", "* bidir,unix,tcp"},
                                    {"serverTransportRule", "* bidir,unix,tcp"},
                                    {"giopMaxMsgSize", maxMessage.c_str()},
                                    {nullptr, nullptr}};
        int argc = 1;
        char name[] = "e2e_server";
        char* argv[] = {name, nullptr};
        CORBA::ORB_var o = CORBA::ORB_init(argc, argv, "omniORB4", options);
        omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(velnor::wire::c_callDeadline.count()));
        omniORB::setClientConnectTimeout(static_cast<CORBA::ULong>(velnor::wire::c_connectTimeout.count()));
        OrbHolder() = o;
        return OrbHolder().in();
    }();
    return orb;
}

RawRegistry::RawRegistry(int port, int root) {
    // A client that offers bidirectional GIOP needs its bidirectional POA
    // before the first call, or the ORB refuses to use the connection.
    SinkPoa();
    const std::string key = velnor::wire::RegistryKey(root != 1);
    const std::string address = "corbaloc::127.0.0.1:" + std::to_string(port) + "/" + key;
    // After a server restart on the same port the ORB may still hold the
    // old TCP connection; the first request on it fails and drops it, the
    // next one connects afresh.
    for (int attempt = 1;; ++attempt) {
        try {
            CORBA::Object_var object = TestOrb()->string_to_object(address.c_str());
            m_ref = i_NET::Registry::_narrow(object);
            if (CORBA::is_nil(m_ref)) throw std::runtime_error("no registry at " + address);
            i_NET::ServerIdentity_var identity = m_ref->identity();
            return;
        } catch (const CORBA::COMM_FAILURE&) {
            if (attempt == 3) throw;
        }
    }
}

i_NET::NodeInfo RawRegistry::Lookup(const std::string& dottedPath, bool exposeHidden) const {
    i_NET::NodeInfo_var info = m_ref->lookup(Path(dottedPath), exposeHidden);
    return info.in();
}

std::string RawRegistry::Read(const std::string& dottedPath) const {
    const i_NET::NodeInfo info = Lookup(dottedPath, true);
    i_NET::Values_var value = m_ref->get(info.id, 0, info.size);
    return Describe(value.in());
}

i_NET::StringSeq Path(const std::string& dottedPath) {
    i_NET::StringSeq seq;
    std::istringstream in(dottedPath);
    std::string name;
    while (std::getline(in, name, '.')) {
        const CORBA::ULong n = seq.length();
        seq.length(n + 1);
        seq[n] = name.c_str();
    }
    return seq;
}

i_NET::Values Bools(const std::vector<bool>& v) {
    i_NET::BoolSeq seq;
    seq.length(static_cast<CORBA::ULong>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) seq[static_cast<CORBA::ULong>(i)] = v[i];
    i_NET::Values out;
    out.b(seq);
    return out;
}
i_NET::Values Ints(const std::vector<int>& v) {
    i_NET::Values out;
    out.i32(SeqOf<i_NET::LongSeq>(v));
    return out;
}
i_NET::Values UInts(const std::vector<unsigned>& v) {
    i_NET::Values out;
    out.u32(SeqOf<i_NET::ULongSeq>(v));
    return out;
}
i_NET::Values Int64s(const std::vector<long long>& v) {
    i_NET::Values out;
    out.i64(SeqOf<i_NET::LongLongSeq>(v));
    return out;
}
i_NET::Values UInt64s(const std::vector<unsigned long long>& v) {
    i_NET::Values out;
    out.u64(SeqOf<i_NET::ULongLongSeq>(v));
    return out;
}
i_NET::Values Doubles(const std::vector<double>& v) {
    i_NET::Values out;
    out.f64(SeqOf<i_NET::DoubleSeq>(v));
    return out;
}
i_NET::Values Floats(const std::vector<float>& v) {
    i_NET::Values out;
    out.f32(SeqOf<i_NET::FloatSeq>(v));
    return out;
}
i_NET::Values Strings(const std::vector<std::string>& v) {
    i_NET::StringSeq seq;
    seq.length(static_cast<CORBA::ULong>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) seq[static_cast<CORBA::ULong>(i)] = v[i].c_str();
    i_NET::Values out;
    out.s(seq);
    return out;
}

std::string Describe(const i_NET::Values& values) {
    switch (values._d()) {
        case 1: {
            std::string out = "b:";
            for (CORBA::ULong i = 0; i < values.b().length(); ++i)
                out += std::string(i ? "," : "") + (values.b()[i] ? "true" : "false");
            return out;
        }
        case 2: return Join("i32", values.i32());
        case 3: return Join("u32", values.u32());
        case 4: return Join("i64", values.i64());
        case 5: return Join("u64", values.u64());
        case 6: return Join("f64", values.f64());
        case 7: return Join("f32", values.f32());
        case 8: {
            std::string out = "s:";
            for (CORBA::ULong i = 0; i < values.s().length(); ++i)
                out += std::string(i ? "," : "") + values.s()[i].in();
            return out;
        }
        default: return "none";
    }
}

std::optional<i_NET::Value> OneOf(const i_NET::Values& values) {
    i_NET::Value one;
    switch (values._d()) {
        case 1: if (values.b().length() != 1) return std::nullopt; one.b(values.b()[0]); return one;
        case 2: if (values.i32().length() != 1) return std::nullopt; one.i32(values.i32()[0]); return one;
        case 3: if (values.u32().length() != 1) return std::nullopt; one.u32(values.u32()[0]); return one;
        case 4: if (values.i64().length() != 1) return std::nullopt; one.i64(values.i64()[0]); return one;
        case 5: if (values.u64().length() != 1) return std::nullopt; one.u64(values.u64()[0]); return one;
        case 6: if (values.f64().length() != 1) return std::nullopt; one.f64(values.f64()[0]); return one;
        case 7: if (values.f32().length() != 1) return std::nullopt; one.f32(values.f32()[0]); return one;
        case 8: if (values.s().length() != 1) return std::nullopt; one.s(values.s()[0].in()); return one;
        default: return std::nullopt;
    }
}

std::string Describe(const i_NET::Value& value) {
    switch (value._d()) {
        case 1: return Describe(Bools({static_cast<bool>(value.b())}));
        case 2: return Describe(Ints({value.i32()}));
        case 3: return Describe(UInts({value.u32()}));
        case 4: return Describe(Int64s({value.i64()}));
        case 5: return Describe(UInt64s({value.u64()}));
        case 6: return Describe(Doubles({value.f64()}));
        case 7: return Describe(Floats({value.f32()}));
        case 8: return Describe(Strings({std::string(value.s())}));
        default: return "none";
    }
}

void RecordingSink::notify(const i_NET::NotificationSeq& batch) {
    std::lock_guard lock(m_lock);
    ++m_calls;
    m_arrived.notify_all();
    if (m_failing) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    for (CORBA::ULong i = 0; i < batch.length(); ++i) {
        std::string path;
        for (CORBA::ULong j = 0; j < batch[i].node.relPath.length(); ++j)
            path += std::string(j ? "." : "") + batch[i].node.relPath[j].in();
        m_received.push_back({path, Describe(batch[i].value), batch[i].first});
    }
    m_arrived.notify_all();
}

std::vector<Received> RecordingSink::WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    m_arrived.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
    return m_received;
}

std::size_t RecordingSink::WaitForCalls(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    m_arrived.wait_for(lock, timeout, [&] { return m_calls >= count; });
    return m_calls;
}

std::size_t RecordingSink::Calls() {
    std::lock_guard lock(m_lock);
    return m_calls;
}

std::shared_ptr<RecordingSink> MakeSink(bool failing) {
    auto* servant = new RecordingSink(failing);
    PortableServer::ObjectId_var id = SinkPoa()->activate_object(servant);
    CORBA::Object_var object = SinkPoa()->id_to_reference(id);
    servant->m_ref = i_NET::NotificationSink::_narrow(object);
    return std::shared_ptr<RecordingSink>(servant, [](RecordingSink* sink) {
        PortableServer::ObjectId_var id = SinkPoa()->servant_to_id(sink);
        SinkPoa()->deactivate_object(id);
        sink->_remove_ref();
    });
}

}  // namespace velnor::test
