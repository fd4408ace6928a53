// dump: the subtree below a node, as the registry renders it.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_node_value.h"
#include "rove_params.h"

void Dump(const mci::Node& node) {
    ISTD_TRACE_FNC("void Dump(const mci::Node&)", c_traceFile);
    const std::string text = node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags),
                                              g_params.maxLength);
    std::cout << text;
    // Whole lines reach the output before the next call, which may never
    // come back.
    std::cout.flush();
}

namespace {

// One record, {"path","depth","type","flags","value"}, written piece by
// piece: a dump may make a hundred thousand of them. The pieces that
// repeat (type names, flag lists) are made once.
class DumpRecordWriter {
public:
    void Write(rove_json::RecordBuffer& out, const std::string& path, std::int32_t depth,
               mci::enums::NodeValType_e type, std::uint32_t flags, const istd::Any& value) {
        std::string& text = out.Text();
        text += "{\"path\":";
        rove_json::AppendString(text, path);
        text += ",\"depth\":";
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, depth).ptr;
        text.append(digits, end);
        text += ",\"type\":";
        text += TypeText(type);
        text += ",\"flags\":";
        text += FlagsText(flags);
        text += ',';
        rove_json::AppendValueMember(text, "value", value);
        text += '}';
        out.EndLine();
    }

private:
    const std::string& TypeText(mci::enums::NodeValType_e type) {
        auto known = m_types.find(type);
        if (known == m_types.end())
            known = m_types.emplace(type, rove_json::Line(rove_json::Json(rove_json::TypeName(type)))).first;
        return known->second;
    }
    const std::string& FlagsText(std::uint32_t flags) {
        auto known = m_flags.find(flags);
        if (known == m_flags.end())
            known = m_flags.emplace(flags, rove_json::Line(rove_json::Json(rove_json::FlagWords(flags)))).first;
        return known->second;
    }

    std::map<mci::enums::NodeValType_e, std::string> m_types;
    std::map<std::uint32_t, std::string> m_flags;
};

bool Shown(std::int32_t depth) { return g_params.level < 0 || depth <= g_params.level; }

class JsonDump {
public:
    // The records of the subtree at `node` (at `depth`), depth-first and
    // children in the registry's order, as the plain dump has them: the
    // subtree is read in one call.
    void Subtree(const mci::Node& node, std::int32_t depth) {
        std::vector<std::string> paths{rove_json::PathOf(node)};
        try {
            const std::int32_t levels = g_params.level < 0 ? -1 : std::max(g_params.level - depth, 0);
            mci::VisitSubtree(node, levels, [&](const mci::SubtreeNodeView& view) {
                // Depth-first: the path at the depth above is the parent's.
                const std::size_t at = view.depth;
                if (at > 0) {
                    paths.resize(at + 1);
                    std::string& path = paths[at];
                    path = paths[at - 1];
                    if (!path.empty()) path += '.';
                    path += view.name;
                }
                m_writer.Write(m_out, paths[at], static_cast<std::int32_t>(depth + at), view.valueType, view.flags,
                               view.value);
            });
        } catch (const mci::ConnectionFailure&) {
            throw;
        } catch (const istd::Exception&) {
            NodeByNode(node, depth);
        }
    }

private:
    // A subtree refused as too large for one message: the node's own record,
    // then each child's subtree (in one call again, where it fits).
    void NodeByNode(const mci::Node& node, std::int32_t depth) {
        // As in the plain dump, only a readable node shows its value.
        const istd::Any value = node.IsReadable() ? ReadNodeValue(node) : istd::Any();
        m_writer.Write(m_out, rove_json::PathOf(node), depth, node.GetValueType(), node.GetFlags(), value);
        if (!Shown(depth + 1)) return;
        for (const auto& child : node.GetNodes()) Subtree(child, depth + 1);
    }

    DumpRecordWriter m_writer;
    rove_json::RecordBuffer m_out;
};

}  // namespace

void DumpJson(const mci::Node& node) {
    ISTD_TRACE_FNC("void DumpJson(const mci::Node&)", c_traceFile);
    JsonDump().Subtree(node, 0);
}
