#include "rove_node_value.h"

#include <string>
#include <vector>

namespace {

template <class T>
istd::Any Read(const mci::Node& node, std::uint32_t start, std::uint32_t count, bool isArray) {
    std::vector<T> values;
    if (isArray) {
        node.Get(values, start, count);
    } else {
        T value{};
        node.Get(value, 0);
        values.push_back(value);
    }
    return istd::Any(std::move(values), isArray);
}

istd::Any ReadTyped(const mci::Node& node, std::uint32_t start, std::uint32_t count, bool isArray) {
    using namespace mci::enums;
    switch (node.GetValueType()) {
        case eBool: return Read<bool>(node, start, count, isArray);
        case eInt32: return Read<int>(node, start, count, isArray);
        case eUInt32: return Read<unsigned int>(node, start, count, isArray);
        case eInt64: return Read<long long>(node, start, count, isArray);
        case eUInt64: return Read<unsigned long long>(node, start, count, isArray);
        case eDouble: return Read<double>(node, start, count, isArray);
        case eFloat: return Read<float>(node, start, count, isArray);
        case eString:
        case eEnum: return Read<std::string>(node, start, count, isArray);
        default: return istd::Any();
    }
}

}  // namespace

istd::Any ReadNodeValue(const mci::Node& node) {
    return ReadTyped(node, 0, node.GetSize(), node.IsArray());
}

istd::Any ReadNodeElements(const mci::Node& node, std::uint32_t start, std::uint32_t count) {
    return ReadTyped(node, start, count, true);
}
