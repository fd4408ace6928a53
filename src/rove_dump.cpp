// dump: the subtree below a node, as the registry renders it.
#include <iostream>
#include <string>

#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"

void Dump(const mci::Node& node) {
    ISTD_TRACE_FNC("void Dump(const mci::Node&)", c_traceFile);
    const std::string text = node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags),
                                              g_params.maxLength);
    std::cout << text;
}
