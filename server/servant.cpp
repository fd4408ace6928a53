#include "servant.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "corba_values.h"

namespace velnor::server {

namespace {

// Runs one call, turning the store's failures into the protocol's.
template <class F>
auto Translate(F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const NotFoundError& e) {
        throw i_NET::NotFound(e.Path().c_str());
    } catch (const RegistryError& e) {
        throw i_NET::RegistryError(e.what());
    } catch (const std::bad_alloc&) {
        throw CORBA::NO_MEMORY();
    }
}

std::vector<std::string> Names(const i_NET::StringSeq& seq) {
    std::vector<std::string> names;
    names.reserve(seq.length());
    for (CORBA::ULong i = 0; i < seq.length(); ++i) names.emplace_back(static_cast<const char*>(seq[i]));
    return names;
}

// Texts cannot raise RegistryError in the protocol; a text too large for
// one message is reported as the ORB's implementation limit.
void CheckTextSize(const std::string& text) {
    if (text.size() > wire::c_maxMessageBytes - c_messageHeadroom) throw CORBA::IMP_LIMIT(0, CORBA::COMPLETED_NO);
}

}  // namespace

RegistryServant::RegistryServant(ValueStore& store, Notifier& notifier, MemoryTrimmer& trimmer, Root root,
                                 std::uint64_t runId)
    : m_store(store), m_notifier(notifier), m_trimmer(trimmer), m_root(root), m_runId(runId) {}

const Node& RegistryServant::ById(i_NET::NodeId id) const {
    const Node* node = m_store.GetTree().Find(id);
    if (!node || node->root != m_root) throw NotFoundError("#" + std::to_string(id));
    return *node;
}

void RegistryServant::CheckReplySize(const Node& node, std::uint64_t bytes, const char* what) const {
    if (bytes > wire::c_maxMessageBytes - c_messageHeadroom)
        throw RegistryError(std::string(what) + " of node " + m_store.GetTree().DottedPath(node) + " takes " +
                            std::to_string(bytes) + " bytes, more than the message limit of " +
                            std::to_string(wire::c_maxMessageBytes) + " bytes; read it in smaller ranges");
}

i_NET::ServerIdentity* RegistryServant::identity() {
    auto* identity = new i_NET::ServerIdentity;
    identity->runId = m_runId;
    identity->host = m_store.GetTree().host.c_str();
    return identity;
}

i_NET::NodeInfo* RegistryServant::root() {
    const Tree& tree = m_store.GetTree();
    return new i_NET::NodeInfo(InfoOf(tree, tree.nodes[tree.RootOf(m_root)]));
}

i_NET::NodeInfo* RegistryServant::lookup(const i_NET::StringSeq& relPath, CORBA::Boolean exposeHidden) {
    return Translate([&] {
        const Node& node = m_store.Visible(m_root, Names(relPath), exposeHidden);
        return new i_NET::NodeInfo(InfoOf(m_store.GetTree(), node));
    });
}

i_NET::NodeInfo* RegistryServant::node(i_NET::NodeId id, CORBA::Boolean exposeHidden) {
    return Translate([&] {
        const Node& node = m_store.Visible(m_root, id, exposeHidden);
        return new i_NET::NodeInfo(InfoOf(m_store.GetTree(), node));
    });
}

i_NET::NodeInfoSeq* RegistryServant::children(i_NET::NodeId id, CORBA::Boolean exposeHidden) {
    return Translate([&] {
        const Tree& tree = m_store.GetTree();
        const Node& parent = m_store.Visible(m_root, id, exposeHidden);
        i_NET::NodeInfoSeq_var list = new i_NET::NodeInfoSeq;
        for (NodeId child : parent.children) {
            const Node& node = tree.nodes[child];
            if (node.Has(flags::Hidden) && !exposeHidden) continue;
            const CORBA::ULong n = list->length();
            list->length(n + 1);
            list[n] = InfoOf(tree, node);
        }
        return list._retn();
    });
}

i_NET::Values* RegistryServant::get(i_NET::NodeId id, CORBA::ULong pos, CORBA::ULong count) {
    return Translate([&] {
        const Node& node = ById(id);
        // Only a range inside the node can be too large; anything else is
        // refused by the store without copying.
        if (static_cast<std::uint64_t>(pos) + count <= node.size)
            CheckReplySize(node, static_cast<std::uint64_t>(count) * FixedElementBytes(node.type), "Reading");
        const Elements value = m_store.Get(node, pos, count);
        CheckReplySize(node, WireBytes(value), "Reading");
        m_trimmer.NoteReply(WireBytes(value));
        auto out = std::make_unique<i_NET::Values>();
        ToCorba(value, *out);
        return out.release();
    });
}

void RegistryServant::Write(const Node& node, CORBA::ULong pos, const std::optional<Elements>& written) {
    if (!written) throw RegistryError("The value written to node " + m_store.GetTree().DottedPath(node) + " has no element type");
    m_store.Set(node, pos, *written);
}

void RegistryServant::set(i_NET::NodeId id, CORBA::ULong pos, const i_NET::Values& v) {
    Translate([&] { Write(ById(id), pos, FromCorba(v)); });
}

i_NET::Value* RegistryServant::getOne(i_NET::NodeId id, CORBA::ULong pos) {
    return Translate([&] {
        const Node& node = ById(id);
        const Elements value = m_store.Get(node, pos, 1);
        CheckReplySize(node, WireBytes(value), "Reading");
        auto out = std::make_unique<i_NET::Value>();
        FirstToCorba(value, *out);
        return out.release();
    });
}

void RegistryServant::setOne(i_NET::NodeId id, CORBA::ULong pos, const i_NET::Value& v) {
    Translate([&] { Write(ById(id), pos, FromCorba(v)); });
}

char* RegistryServant::toText(i_NET::NodeId id, CORBA::ULong maxLength) {
    return Translate([&] {
        const std::string text = m_store.Text(ById(id), maxLength);
        CheckTextSize(text);
        return CORBA::string_dup(text.c_str());
    });
}

namespace {

// Whole-subtree replies (dumps, subtrees) are rendered at most two at a
// time, one per core: a crowd of peers asking for large replies then waits
// at the gate, taking no CPU from the requests of everyone else.
class RenderGate {
public:
    class Pass {
    public:
        explicit Pass(RenderGate& gate) : m_gate(gate) { m_gate.Enter(); }
        ~Pass() { m_gate.Leave(); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        RenderGate& m_gate;
    };

    static RenderGate& Instance() {
        static RenderGate gate(2);
        return gate;
    }

private:
    explicit RenderGate(int slots) : m_free(slots) {}
    void Enter() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_free > 0; });
        --m_free;
    }
    void Leave() {
        {
            std::lock_guard lock(m_lock);
            ++m_free;
        }
        m_changed.notify_one();
    }

    std::mutex m_lock;  // guards m_free
    std::condition_variable m_changed;
    int m_free;
};

}  // namespace

char* RegistryServant::dumpSubTree(i_NET::NodeId id, CORBA::Long level, CORBA::ULong flags, CORBA::ULong maxLength,
                                   CORBA::Boolean exposeHidden) {
    return Translate([&] {
        DumpRequest request;
        request.start = m_store.Visible(m_root, id, exposeHidden).id;
        request.level = level;
        request.flags = flags;
        request.maxLength = maxLength;
        request.exposeHidden = exposeHidden;
        const RenderGate::Pass pass(RenderGate::Instance());
        const std::string text = m_store.Dump(request);
        CheckTextSize(text);
        m_trimmer.NoteReply(text.size());
        return CORBA::string_dup(text.c_str());
    });
}

CORBA::Boolean RegistryServant::domainValues(i_NET::NodeId id, i_NET::StringSeq_out domain) {
    return Translate([&] {
        const Node& node = ById(id);
        i_NET::StringSeq_var list = new i_NET::StringSeq;
        if (node.domain) {
            list->length(static_cast<CORBA::ULong>(node.domain->size()));
            for (std::size_t i = 0; i < node.domain->size(); ++i)
                list[static_cast<CORBA::ULong>(i)] = (*node.domain)[i].c_str();
        }
        domain = list._retn();
        return static_cast<CORBA::Boolean>(node.domain.has_value());
    });
}

CORBA::Boolean RegistryServant::validatorExpression(i_NET::NodeId id, CORBA::String_out expr) {
    return Translate([&] {
        const Node& node = ById(id);
        expr = CORBA::string_dup(node.validator ? node.validator->c_str() : "");
        return static_cast<CORBA::Boolean>(node.validator.has_value());
    });
}

CORBA::Boolean RegistryServant::execute(i_NET::NodeId id) {
    return Translate([&] { return static_cast<CORBA::Boolean>(m_store.Execute(ById(id))); });
}

void RegistryServant::subscribe(const char* clientKey, i_NET::NotificationSink_ptr sink, i_NET::NodeId id) {
    Translate([&] {
        const Node& node = ById(id);
        if (CORBA::is_nil(sink)) throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
        m_notifier.Subscribe(clientKey, sink, node.id);
    });
}

void RegistryServant::unsubscribe(const char* clientKey) { m_notifier.Unsubscribe(clientKey); }

CORBA::Boolean RegistryServant::subscribed(const char* clientKey) { return m_notifier.IsSubscribed(clientKey); }

CORBA::ULongLong RegistryServant::lostNotifications(const char* clientKey) { return m_notifier.TakeLost(clientKey); }

i_NET::SubtreeNodeSeq* RegistryServant::subtree(i_NET::NodeId id, CORBA::Boolean exposeHidden) {
    return Translate([&] {
        const Tree& tree = m_store.GetTree();
        const Node& start = m_store.Visible(m_root, id, exposeHidden);
        const RenderGate::Pass pass(RenderGate::Instance());
        const auto nodes = m_store.Subtree(start, -1, exposeHidden);
        std::uint64_t bytes = 0;
        for (const auto& entry : nodes) bytes += WireBytes(entry.value) + 64;
        CheckReplySize(start, bytes, "The subtree");
        m_trimmer.NoteReply(bytes);
        i_NET::SubtreeNodeSeq_var list = new i_NET::SubtreeNodeSeq;
        list->length(static_cast<CORBA::ULong>(nodes.size()));
        for (CORBA::ULong i = 0; i < list->length(); ++i) {
            const Node* node = nodes[i].node;
            const Elements& value = nodes[i].value;
            i_NET::SubtreeNode& out = list[i];
            out.info = InfoOf(tree, *node);
            out.hasValue = value.index() != 0;
            if (out.hasValue) ToCorba(value, out.value);
            else out.value.s(i_NET::StringSeq());
            if (node->domain) {
                out.domain.length(static_cast<CORBA::ULong>(node->domain->size()));
                for (std::size_t d = 0; d < node->domain->size(); ++d)
                    out.domain[static_cast<CORBA::ULong>(d)] = (*node->domain)[d].c_str();
            }
        }
        return list._retn();
    });
}

i_NET::SubtreeListing* RegistryServant::listSubtree(i_NET::NodeId id, CORBA::Long level,
                                                   CORBA::Boolean exposeHidden) {
    return Translate([&] {
        const Node& start = m_store.Visible(m_root, id, exposeHidden);
        const auto nodes = m_store.Subtree(start, level, exposeHidden);
        std::uint64_t bytes = 0;
        std::uint64_t nameBytes = 0;
        CORBA::ULong withValue = 0;
        for (const auto& entry : nodes) {
            bytes += WireBytes(entry.value) + entry.node->name.size() + 32;
            nameBytes += entry.node->name.size();
            if (entry.value.index() != 0) ++withValue;
        }
        CheckReplySize(start, bytes, "The subtree");
        auto listing = std::make_unique<i_NET::SubtreeListing>();
        listing->nodes.length(static_cast<CORBA::ULong>(nodes.size()));
        listing->names.length(static_cast<CORBA::ULong>(nameBytes));
        listing->values.length(withValue);
        CORBA::Octet* name = listing->names.get_buffer();
        CORBA::ULong value = 0;
        for (CORBA::ULong i = 0; i < listing->nodes.length(); ++i) {
            const Node& node = *nodes[i].node;
            i_NET::ListedNode& out = listing->nodes[i];
            out.nameLength = static_cast<CORBA::ULong>(node.name.size());
            name = std::copy(node.name.begin(), node.name.end(), name);
            out.depth = nodes[i].depth;
            out.flags = node.flags;
            out.typeCode = static_cast<i_NET::ValueTypeCode>(node.type);
            out.hasValue = nodes[i].value.index() != 0;
            if (out.hasValue) ToCorba(nodes[i].value, listing->values[value++]);
        }
        return listing.release();
    });
}

i_NET::StringSeq* RegistryServant::checkValues(const i_NET::ValueCheckSeq& checks) {
    i_NET::StringSeq_var reasons = new i_NET::StringSeq;
    reasons->length(checks.length());
    for (CORBA::ULong i = 0; i < checks.length(); ++i) {
        try {
            const Node& node = ById(checks[i].id);
            const std::optional<Elements> value = FromCorba(checks[i].value);
            if (!value) throw RegistryError("The value has no element type");
            m_store.CheckSet(node, 0, *value);
            reasons[i] = "";
        } catch (const NotFoundError& e) {
            reasons[i] = e.what();
        } catch (const RegistryError& e) {
            reasons[i] = e.what();
        }
    }
    return reasons._retn();
}

}  // namespace velnor::server
