#include "corba_values.h"

#include <stdexcept>
#include <type_traits>

namespace velnor::server {

// The tree's flag bits are the protocol's: the IDL defines them, the
// server's CORBA-free core mirrors them.
static_assert(flags::Readable == i_NET::FLAG_READABLE && flags::Writable == i_NET::FLAG_WRITABLE &&
                  flags::Constant == i_NET::FLAG_CONSTANT && flags::Executable == i_NET::FLAG_EXECUTABLE &&
                  flags::Array == i_NET::FLAG_ARRAY && flags::Persistent == i_NET::FLAG_PERSISTENT &&
                  flags::Hidden == i_NET::FLAG_HIDDEN && flags::Signal == i_NET::FLAG_SIGNAL,
              "node flag bits differ from the protocol's");

namespace {

template <class Seq, class Vec>
void Fill(Seq& seq, const Vec& v) {
    seq.length(static_cast<CORBA::ULong>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i) {
        using T = typename Vec::value_type;
        if constexpr (std::is_same_v<T, std::string>) seq[static_cast<CORBA::ULong>(i)] = v[i].c_str();
        else seq[static_cast<CORBA::ULong>(i)] = static_cast<T>(v[i]);
    }
}

template <class T, class Seq>
Elements VectorOf(const Seq& seq) {
    std::vector<T> v;
    v.reserve(seq.length());
    for (CORBA::ULong i = 0; i < seq.length(); ++i) {
        if constexpr (std::is_same_v<T, std::string>) v.emplace_back(static_cast<const char*>(seq[i]));
        else v.push_back(static_cast<T>(seq[i]));
    }
    return v;
}

}  // namespace

// Each sequence is filled inside the union: setting a filled one would copy
// it, texts included.
void ToCorba(const Elements& elements, i_NET::Values& out) {
    switch (elements.index()) {
        case 1: out.b(i_NET::BoolSeq()); Fill(out.b(), std::get<1>(elements)); break;
        case 2: out.i32(i_NET::LongSeq()); Fill(out.i32(), std::get<2>(elements)); break;
        case 3: out.u32(i_NET::ULongSeq()); Fill(out.u32(), std::get<3>(elements)); break;
        case 4: out.i64(i_NET::LongLongSeq()); Fill(out.i64(), std::get<4>(elements)); break;
        case 5: out.u64(i_NET::ULongLongSeq()); Fill(out.u64(), std::get<5>(elements)); break;
        case 6: out.f64(i_NET::DoubleSeq()); Fill(out.f64(), std::get<6>(elements)); break;
        case 7: out.f32(i_NET::FloatSeq()); Fill(out.f32(), std::get<7>(elements)); break;
        case 8: out.s(i_NET::StringSeq()); Fill(out.s(), std::get<8>(elements)); break;
        default: out.s(i_NET::StringSeq()); break;
    }
}

void FirstToCorba(const Elements& elements, i_NET::Value& out) {
    switch (elements.index()) {
        case 1: out.b(std::get<1>(elements).front()); break;
        case 2: out.i32(std::get<2>(elements).front()); break;
        case 3: out.u32(std::get<3>(elements).front()); break;
        case 4: out.i64(std::get<4>(elements).front()); break;
        case 5: out.u64(std::get<5>(elements).front()); break;
        case 6: out.f64(std::get<6>(elements).front()); break;
        case 7: out.f32(std::get<7>(elements).front()); break;
        case 8: out.s(std::get<8>(elements).front().c_str()); break;
        default: throw std::logic_error("no element to send");
    }
}

std::optional<Elements> FromCorba(const i_NET::Value& value) {
    switch (value._d()) {
        case 1: return Elements(std::vector<bool>{static_cast<bool>(value.b())});
        case 2: return Elements(std::vector<int>{value.i32()});
        case 3: return Elements(std::vector<unsigned int>{value.u32()});
        case 4: return Elements(std::vector<long long>{value.i64()});
        case 5: return Elements(std::vector<unsigned long long>{value.u64()});
        case 6: return Elements(std::vector<double>{value.f64()});
        case 7: return Elements(std::vector<float>{value.f32()});
        case 8: return Elements(std::vector<std::string>{value.s()});
        default: return std::nullopt;
    }
}

std::optional<Elements> FromCorba(const i_NET::Values& values) {
    switch (values._d()) {
        case 1: return VectorOf<bool>(values.b());
        case 2: return VectorOf<int>(values.i32());
        case 3: return VectorOf<unsigned int>(values.u32());
        case 4: return VectorOf<long long>(values.i64());
        case 5: return VectorOf<unsigned long long>(values.u64());
        case 6: return VectorOf<double>(values.f64());
        case 7: return VectorOf<float>(values.f32());
        case 8: return VectorOf<std::string>(values.s());
        default: return std::nullopt;
    }
}

i_NET::NodeInfo InfoOf(const Tree& tree, const Node& node) {
    i_NET::NodeInfo info;
    info.id = node.id;
    info.parent = node.parent;
    info.name = node.name.c_str();
    const std::vector<std::string> relPath = tree.RelPath(node);
    info.relPath.length(static_cast<CORBA::ULong>(relPath.size()));
    for (std::size_t i = 0; i < relPath.size(); ++i) info.relPath[static_cast<CORBA::ULong>(i)] = relPath[i].c_str();
    info.flags = node.flags;
    info.typeCode = static_cast<CORBA::Short>(node.type);
    info.size = node.size;
    info.childCount = static_cast<CORBA::ULong>(node.children.size());
    return info;
}

std::uint32_t FixedElementBytes(ValueType type) {
    switch (type) {
        case ValueType::Bool: return 1;
        case ValueType::Int32:
        case ValueType::UInt32:
        case ValueType::Float: return 4;
        case ValueType::Int64:
        case ValueType::UInt64:
        case ValueType::Double: return 8;
        default: return 0;
    }
}

std::uint64_t WireBytes(const Elements& elements) {
    if (const auto* texts = std::get_if<std::vector<std::string>>(&elements)) {
        std::uint64_t bytes = 0;
        for (const auto& text : *texts) bytes += text.size() + 8;
        return bytes;
    }
    return std::visit(
        [](const auto& v) -> std::uint64_t {
            using Vec = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<Vec, std::monostate>) return 0;
            else return v.size() * sizeof(typename Vec::value_type);
        },
        elements);
}

}  // namespace velnor::server
