// Node handles: cached facts answer locally, everything else is one
// remote call through Remote(), which owns the error texts.
#include "connection.h"
#include "istd/exception.h"
#include "library.h"
#include "mci/mci.h"
#include "node_facts.h"
#include "values.h"

namespace mci {

using detail::FactsFrom;
using detail::NodeFacts;
using detail::Remote;

Node::Node() = default;
Node::~Node() = default;
Node::Node(const Node&) = default;
Node& Node::operator=(const Node&) = default;
Node::Node(Node&&) noexcept = default;
Node& Node::operator=(Node&&) noexcept = default;

Node::Node(std::shared_ptr<detail::Connection> connection, std::shared_ptr<const NodeFacts> facts)
    : m_connection(std::move(connection)), m_facts(std::move(facts)) {}

bool Node::IsValid() const { return m_connection && m_facts; }

const NodeFacts& Node::Checked() const {
    if (!IsValid()) throw istd::Exception("Invalid registry node handle (not connected)", true);
    return *m_facts;
}

// --- navigation ---

Node Node::GetNode(const Path& relPath) const {
    const NodeFacts& facts = Checked();
    if (relPath.empty()) return *this;
    Path full = facts.relPath;
    full.insert(full.end(), relPath.begin(), relPath.end());
    const i_NET::StringSeq wirePath = detail::ToWirePath(full);
    i_NET::NodeInfo_var info =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->lookup(wirePath, detail::HiddenExposed()); });
    return Node(m_connection, FactsFrom(info.in()));
}

Node Node::operator[](const std::string& childName) const { return GetNode(Path{childName}); }

std::vector<Node> Node::GetNodes() const {
    const NodeFacts& facts = Checked();
    i_NET::NodeInfoSeq_var children =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->children(facts.id, detail::HiddenExposed()); });
    std::vector<Node> nodes;
    nodes.reserve(children->length());
    for (CORBA::ULong i = 0; i < children->length(); ++i) nodes.emplace_back(m_connection, FactsFrom(children[i]));
    return nodes;
}

// The cached count includes hidden children; a client that does not see
// hidden nodes counts the children it is given.
std::uint32_t Node::GetNodeCount() const {
    const NodeFacts& facts = Checked();
    if (facts.childCount == 0 || detail::HiddenExposed()) return facts.childCount;
    return static_cast<std::uint32_t>(GetNodes().size());
}

Node Node::GetParent() const {
    const NodeFacts& facts = Checked();
    if (IsRoot()) return Node();  // the root has no parent
    i_NET::NodeInfo_var info =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->node(facts.parent, detail::HiddenExposed()); });
    return Node(m_connection, FactsFrom(info.in()));
}

bool Node::IsRoot() const { return Checked().relPath.empty(); }
bool Node::IsLeaf() const { return GetNodeCount() == 0; }

// --- names ---

std::string Node::GetName() const { return Checked().name; }

Path Node::GetFullPath(bool relative) const {
    const NodeFacts& facts = Checked();
    if (relative) return facts.relPath;
    Path full{m_connection->RegistryHost()};
    full.insert(full.end(), facts.relPath.begin(), facts.relPath.end());
    return full;
}

Path Node::GetRelPath() const { return Checked().relPath; }

// --- flags ---

std::uint32_t Node::GetFlags() const { return Checked().flags; }
bool Node::IsReadable() const { return GetFlags() & eReadable; }
bool Node::IsWritable() const { return GetFlags() & eWritable; }
bool Node::IsConstant() const { return GetFlags() & eConstant; }
bool Node::IsExecutable() const { return GetFlags() & eExecutable; }
bool Node::IsArray() const { return GetFlags() & eArray; }
bool Node::IsPersistent() const { return GetFlags() & ePersistent; }
bool Node::IsSignal() const { return GetFlags() & eSignal; }

// --- values ---

enums::NodeValType_e Node::GetValueType() const { return Checked().valueType; }
std::uint32_t Node::GetSize() const { return Checked().size; }

namespace {

// The values at pos, exactly `count` of them.
i_NET::Values_var Fetch(const detail::Connection& connection, const NodeFacts& facts, std::uint32_t pos,
                        std::uint32_t count) {
    i_NET::Values_var values =
        Remote(connection, [&](i_NET::Registry_ptr r) { return r->get(facts.id, pos, count); });
    const std::uint32_t got = detail::Length(values.in());
    if (got != count)
        throw istd::Exception("Registry at " + connection.Address() + " sent " + std::to_string(got) +
                                  " values of node " + facts.DottedPath() + " where " + std::to_string(count) +
                                  " were asked for",
                              true);
    return values;
}

template <class T>
std::vector<T> ReadElements(const detail::Connection& connection, const NodeFacts& facts, std::uint32_t pos,
                            std::uint32_t count) {
    return detail::FromValues<T>(Fetch(connection, facts, pos, count).in(), facts);
}

// One element, without a sequence or a list around it: the most frequent
// read.
template <class T>
void ReadElement(const detail::Connection& connection, const NodeFacts& facts, std::uint32_t pos, T& value) {
    i_NET::Value_var element = Remote(connection, [&](i_NET::Registry_ptr r) { return r->getOne(facts.id, pos); });
    detail::FromValue(element.in(), facts, value);
}

template <class T>
void WriteElements(const detail::Connection& connection, const NodeFacts& facts, const std::vector<T>& elements,
                   std::uint32_t pos) {
    if (elements.size() == 1) {
        const i_NET::Value element = detail::ToValue(elements.front(), facts);
        Remote(connection, [&](i_NET::Registry_ptr r) { r->setOne(facts.id, pos, element); });
        return;
    }
    const i_NET::Values values = detail::ToValues(elements, facts);
    Remote(connection, [&](i_NET::Registry_ptr r) { r->set(facts.id, pos, values); });
}

}  // namespace

#define MCI_NODE_VALUE_ACCESS(T)                                                              \
    void Node::Get(T& value, std::uint32_t pos) const {                                       \
        ReadElement<T>(*m_connection, Checked(), pos, value);                                 \
    }                                                                                         \
    void Node::Get(std::vector<T>& values, std::uint32_t pos, std::uint32_t count) const {    \
        values = ReadElements<T>(*m_connection, Checked(), pos, count);                       \
    }                                                                                         \
    void Node::Set(const std::vector<T>& values, std::uint32_t pos) const {                   \
        WriteElements<T>(*m_connection, Checked(), values, pos);                              \
    }
MCI_NODE_VALUE_ACCESS(bool)
MCI_NODE_VALUE_ACCESS(int)
MCI_NODE_VALUE_ACCESS(unsigned int)
MCI_NODE_VALUE_ACCESS(long long)
MCI_NODE_VALUE_ACCESS(unsigned long long)
MCI_NODE_VALUE_ACCESS(double)
MCI_NODE_VALUE_ACCESS(float)
MCI_NODE_VALUE_ACCESS(std::string)
#undef MCI_NODE_VALUE_ACCESS

bool Node::GetValue(std::string& value, std::uint32_t pos) const {
    try {
        Get(value, pos);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool Node::SetValue(int value, std::uint32_t pos) const {
    try {
        Set(std::vector<int>{value}, pos);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string Node::ToString(std::uint32_t maxLength) const {
    const NodeFacts& facts = Checked();
    CORBA::String_var text =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->toText(facts.id, maxLength); });
    return std::string(text.in());
}

bool Node::GetDomainValues(std::vector<std::string>& domain) const {
    const NodeFacts& facts = Checked();
    i_NET::StringSeq_var values;
    const bool has =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->domainValues(facts.id, values.out()); });
    if (!has) return false;
    domain.clear();
    for (CORBA::ULong i = 0; i < values->length(); ++i) domain.emplace_back(static_cast<const char*>(values[i]));
    return true;
}

bool Node::GetValidatorExpression(std::string& expression) const {
    const NodeFacts& facts = Checked();
    CORBA::String_var text;
    const bool has =
        Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->validatorExpression(facts.id, text.out()); });
    if (has) expression = text.in();
    return has;
}

bool Node::Execute() const {
    const NodeFacts& facts = Checked();
    return Remote(*m_connection, [&](i_NET::Registry_ptr r) { return r->execute(facts.id); });
}

std::string Node::DumpSubTree(std::int32_t level, unsigned long flags, std::uint32_t maxLength) const {
    const NodeFacts& facts = Checked();
    CORBA::String_var text = Remote(*m_connection, [&](i_NET::Registry_ptr r) {
        return r->dumpSubTree(facts.id, level, static_cast<CORBA::ULong>(flags), maxLength, detail::HiddenExposed());
    });
    return std::string(text.in());
}

}  // namespace mci
