#pragma once
// The handlers of the registry commands: one call per selected node.
#include <string>

#include "mci/mci.h"

void PrintNodeInfo(const mci::Node& node);
void GetInfo(const mci::Node& node);
void Dump(const mci::Node& node);
void ValueAccess(const mci::Node& node, const std::string& path, const std::string& value, const std::string& index);
void Benchmark(mci::Node& node);
void AutoComplete(const std::string& text, bool longFlag);

// Not available yet: they throw istd::Exception once their options are parsed.
void Listen(mci::Node& node);
void Signal(const mci::Node& node);
