#include "dump.h"

#include "istd/strings.h"

namespace velnor::server {

namespace {

bool IsVisible(const Node& node, bool exposeHidden) { return exposeHidden || !node.Has(flags::Hidden); }

bool IsShowingValue(const Node& node) { return node.HasValue() && node.Has(flags::Readable); }

std::string TypeText(const Node& node) {
    if (node.Has(flags::Signal)) return "signal";
    if (!node.HasValue()) return node.Has(flags::Executable) ? "function" : std::string();
    std::string text = ValueTypeName(node.type);
    if (node.IsArray()) text += "[" + std::to_string(node.size) + "]";
    return text;
}

class DumpWriter {
public:
    DumpWriter(const Tree& tree, const std::vector<Elements>& values, const DumpRequest& request)
        : m_tree(tree), m_values(values), m_request(request) {}

    std::string Render() {
        Visit(m_tree.nodes[m_request.start], 0);
        return std::move(m_out);
    }

private:
    bool Has(std::uint32_t bit) const { return (m_request.flags & bit) != 0; }
    bool MayDescend(int depth) const { return m_request.level < 0 || depth < m_request.level; }

    void Visit(const Node& node, int depth) {
        const bool descend = MayDescend(depth) && HasVisibleChild(node);
        if (!IsRedundant(node, descend)) WriteLine(node, depth);
        if (!descend) return;
        for (NodeId child : node.children) {
            const Node& childNode = m_tree.nodes[child];
            if (IsVisible(childNode, m_request.exposeHidden)) Visit(childNode, depth + 1);
        }
    }

    bool HasVisibleChild(const Node& node) const {
        for (NodeId child : node.children)
            if (IsVisible(m_tree.nodes[child], m_request.exposeHidden)) return true;
        return false;
    }

    // Compact full-path dumps leave out plain inner nodes: the paths of their
    // children already name them.
    bool IsRedundant(const Node& node, bool descend) const {
        return Has(wire::c_dumpCompact) && Has(wire::c_dumpFullPath) && descend && !node.HasValue() &&
               !node.Has(flags::Executable | flags::Signal);
    }

    void WriteLine(const Node& node, int depth) {
        if (Has(wire::c_dumpFullPath)) {
            m_out += m_tree.host;
            for (const auto& name : m_tree.RelPath(node)) m_out += "." + name;
        } else {
            m_out.append(static_cast<std::size_t>(depth) * 2, ' ');
            m_out += node.name;
        }
        const bool plain = !node.HasValue() && !node.Has(flags::Executable | flags::Signal);
        const std::string type = TypeText(node);
        if (!Has(wire::c_dumpCompact) && !type.empty()) m_out += " [" + type + "]";
        if (Has(wire::c_dumpShowFlags) && !(Has(wire::c_dumpCompact) && plain)) {
            const std::string words = FlagsText(node.flags, ",");
            m_out += " {" + (words.empty() ? std::string("none") : words) + "}";
        }
        if (IsShowingValue(node))
            // A line break inside a text would split the line, and a control
            // character could drive the terminal the listing is shown on.
            m_out += " = " + istd::OneLineText(LimitedValueText(node, m_values[node.id], m_request.maxLength));
        m_out += '\n';
    }

    const Tree& m_tree;
    const std::vector<Elements>& m_values;
    const DumpRequest& m_request;
    std::string m_out;
};

}  // namespace

std::string LimitedValueText(const Node& node, const Elements& value, std::uint32_t maxLength) {
    // A UTF-8 character takes at most four bytes: rendering stops once the
    // text surely holds more than maxLength characters.
    const std::size_t stopAfter = maxLength == 0 ? 0 : static_cast<std::size_t>(maxLength) * 4 + 4;
    return Truncate(ValueText(value, node.IsArray(), stopAfter), maxLength);
}

std::string RenderDump(const Tree& tree, const std::vector<Elements>& values, const DumpRequest& request) {
    return DumpWriter(tree, values, request).Render();
}

}  // namespace velnor::server
