// dump: the subtree below a node, as the registry renders it.
#include <iostream>
#include <string>

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
}

namespace {

// Depth-first, children in the registry's order: the order of the plain dump.
void DumpRecords(const mci::Node& node, std::int32_t depth) {
    rove_json::Json record;
    record["path"] = rove_json::PathOf(node);
    record["depth"] = depth;
    record["type"] = rove_json::TypeName(node);
    record["flags"] = rove_json::FlagWords(node);
    // As in the plain dump, only a readable node shows its value.
    record["value"] = node.IsReadable() ? rove_json::ValueJson(ReadNodeValue(node)) : rove_json::Json();
    rove_json::Write(record);
    if (g_params.level >= 0 && depth >= g_params.level) return;
    for (const auto& child : node.GetNodes()) DumpRecords(child, depth + 1);
}

}  // namespace

void DumpJson(const mci::Node& node) {
    ISTD_TRACE_FNC("void DumpJson(const mci::Node&)", c_traceFile);
    DumpRecords(node, 0);
}
