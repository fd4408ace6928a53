// info: the fixed report of a node.
#include <iostream>
#include <string>
#include <vector>

#include "istd/strings.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_node_value.h"
#include "rove_params.h"

namespace {

struct NodeReport {
    std::string hostName;
    std::string nodeName;
    std::string value;
    std::string typeName;
    std::string domain;
    std::string validator;
    std::uint32_t size = 0;
    mci::Path relPath;
    std::uint32_t childCount = 0;
    std::string flags;
    bool root = false;
    std::string parent;
};

std::string FlagsText(const mci::Node& node) {
    std::string flags;
    if (node.IsReadable()) flags += " readable";
    if (node.IsWritable()) flags += " writable";
    if (node.IsConstant()) flags += " constant";
    if (node.IsExecutable()) flags += " executable";
    if (node.IsArray()) flags += " array";
    if (node.IsPersistent()) flags += " persistent";
    if (node.IsSignal()) flags += " signal";
    if (node.GetFlags() & mci::eHidden) flags += " hidden";
    return flags.empty() ? std::string(" none") : istd::TrimString(flags);
}

std::string DomainText(const mci::Node& node) {
    std::vector<std::string> domain;
    if (!node.GetDomainValues(domain)) return std::string();
    return " (" + istd::StringVecIntoString(domain, ",") + ")";
}

NodeReport GatherReport(const mci::Node& node) {
    NodeReport r;
    const std::string name = node.GetName();
    const mci::Path full = node.GetFullPath(false);
    r.relPath = node.GetRelPath();
    r.root = node.IsRoot();
    r.childCount = node.GetNodeCount();
    r.hostName = full.empty() ? std::string() : full[0];
    const std::string parentName = r.root ? std::string() : node.GetParent().GetName();
    const auto type = node.GetValueType();
    if (type != mci::enums::eNoValue) r.value = node.ToString(g_params.maxLength);
    r.domain = DomainText(node);
    if (!node.GetValidatorExpression(r.validator)) r.validator.clear();
    r.flags = FlagsText(node);
    r.parent = (parentName.empty() || parentName == r.hostName) ? "No parent for this node" : parentName;
    r.typeName = istd::EnumMap<mci::enums::NodeValType_e>::items.NameOf(type);
    if (r.value.empty()) r.value = "No value for this node";
    r.nodeName = r.relPath.empty() ? std::string() : name;
    r.size = node.GetSize();
    return r;
}

const char* const c_ruler = "---------------------------------------------------";

}  // namespace

void PrintNodeInfo(const mci::Node& node) {
    const NodeReport r = GatherReport(node);
    const std::vector<mci::Node> children = node.GetNodes();
    std::cout << c_ruler << std::endl
              << "   Registry hostname    : " << r.hostName << std::endl
              << "   Node name            : " << r.nodeName << std::endl
              << "   Value                : " << r.value << std::endl
              << "   Value type           : " << r.typeName << r.domain << std::endl
              << "   Validator expression : " << r.validator << std::endl
              << "   Num of values        : " << r.size << std::endl
              << "   Full path            : " << r.relPath << std::endl
              << "   Num of children      : " << r.childCount << std::endl
              << "   Flags                : " << r.flags << std::endl
              << "   Root                 : " << (r.root ? "true" : "false") << std::endl
              << "   Parent node name     : " << r.parent << std::endl
              << "   Children             : ";
    if (children.empty()) std::cout << "No children for this node";
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) std::cout << ", ";
        std::cout << children[i].GetName();
    }
    std::cout << std::endl << c_ruler << std::endl;
}

void GetInfo(const mci::Node& node) { PrintNodeInfo(node); }

namespace {

rove_json::Json NullOr(bool present, rove_json::Json value) { return present ? std::move(value) : rove_json::Json(); }

}  // namespace

void PrintNodeInfoJson(const mci::Node& node) {
    std::vector<std::string> domain;
    const bool hasDomain = node.GetDomainValues(domain);
    std::string validator;
    const bool hasValidator = node.GetValidatorExpression(validator);
    std::vector<std::string> children;
    for (const auto& child : node.GetNodes()) children.push_back(child.GetName());
    const bool root = node.IsRoot();
    rove_json::Json record;
    record["name"] = root ? std::string() : node.GetName();
    record["path"] = rove_json::PathOf(node);
    record["type"] = rove_json::TypeName(node);
    record["size"] = node.GetSize();
    record["flags"] = rove_json::FlagWords(node);
    record["domain"] = NullOr(hasDomain, domain);
    record["validator"] = NullOr(hasValidator && !validator.empty(), validator);
    record["parent"] = NullOr(!root, root ? std::string() : rove_json::PathOf(node.GetParent()));
    record["children"] = children;
    rove_json::SetValue(record, "value", ReadNodeValue(node));
    rove_json::Write(record);
}
