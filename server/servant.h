#pragma once
// The CORBA face of one registry (application or platform): translates
// protocol calls to the value store and failures to protocol exceptions.
#include <cstdint>
#include <optional>

#include "idl/registry.hh"
#include "memory_trim.h"
#include "notifier.h"
#include "value_store.h"

namespace velnor::server {

class RegistryServant : public POA_i_NET::Registry {
public:
    RegistryServant(ValueStore& store, Notifier& notifier, MemoryTrimmer& trimmer, Root root, std::uint64_t runId);

    i_NET::ServerIdentity* identity() override;
    i_NET::NodeInfo* root() override;
    i_NET::NodeInfo* lookup(const i_NET::StringSeq& relPath, CORBA::Boolean exposeHidden) override;
    i_NET::NodeInfo* node(i_NET::NodeId id, CORBA::Boolean exposeHidden) override;
    i_NET::NodeInfoSeq* children(i_NET::NodeId id, CORBA::Boolean exposeHidden) override;
    i_NET::Values* get(i_NET::NodeId id, CORBA::ULong pos, CORBA::ULong count) override;
    void set(i_NET::NodeId id, CORBA::ULong pos, const i_NET::Values& v) override;
    i_NET::Value* getOne(i_NET::NodeId id, CORBA::ULong pos) override;
    void setOne(i_NET::NodeId id, CORBA::ULong pos, const i_NET::Value& v) override;
    char* toText(i_NET::NodeId id, CORBA::ULong maxLength) override;
    char* dumpSubTree(i_NET::NodeId id, CORBA::Long level, CORBA::ULong flags, CORBA::ULong maxLength,
                      CORBA::Boolean exposeHidden) override;
    CORBA::Boolean domainValues(i_NET::NodeId id, i_NET::StringSeq_out domain) override;
    CORBA::Boolean validatorExpression(i_NET::NodeId id, CORBA::String_out expr) override;
    CORBA::Boolean execute(i_NET::NodeId id) override;
    void subscribe(const char* clientKey, i_NET::NotificationSink_ptr sink, i_NET::NodeId id) override;
    void unsubscribe(const char* clientKey) override;
    CORBA::Boolean subscribed(const char* clientKey) override;
    CORBA::ULongLong lostNotifications(const char* clientKey) override;
    i_NET::SubtreeNodeSeq* subtree(i_NET::NodeId id, CORBA::Boolean exposeHidden) override;
    i_NET::SubtreeListing* listSubtree(i_NET::NodeId id, CORBA::Long level, CORBA::Boolean exposeHidden) override;
    i_NET::StringSeq* checkValues(const i_NET::ValueCheckSeq& checks) override;

private:
    // Every call on a node id goes through here: hidden nodes are reachable
    // by id once a client has found them.
    const Node& ById(i_NET::NodeId id) const;
    void CheckReplySize(const Node& node, std::uint64_t bytes, const char* what) const;
    // A written value (nullopt: a union without an element case) into the store.
    void Write(const Node& node, CORBA::ULong pos, const std::optional<Elements>& written);

    ValueStore& m_store;
    Notifier& m_notifier;
    MemoryTrimmer& m_trimmer;
    const Root m_root;
    const std::uint64_t m_runId;
};

}  // namespace velnor::server
