#pragma once
// Signal sources: what a reader needs to know about a signal before it
// reads, shared between the reader and the library.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace isig {

// Throughput counters of one part of a read path (a stream, a queue).
struct SignalStatItem {
    std::string name;
    std::uint64_t total = 0;     // atoms passed on
    std::uint64_t rejected = 0;  // atoms dropped because a queue was full
    std::uint32_t atomSize = 0;  // bytes per atom
};
using SignalStatistics = std::vector<SignalStatItem>;

enum SignalAccessType_e : std::int32_t {
    eAccessStream = 1,
    eAccessDod = 2,
};

class SignalSource : public std::enable_shared_from_this<SignalSource> {
public:
    virtual ~SignalSource() = default;
    SignalSource(const SignalSource&) = delete;
    SignalSource& operator=(const SignalSource&) = delete;

    // Atom type code (AtomTypeCode_e): 1 double ... 10 int8, -1 invalid.
    virtual std::int32_t BaseEnumType() const = 0;
    // 1 stream, 2 data on demand.
    virtual std::int32_t SignalAccessType() const = 0;
    virtual const std::string& GetName() const = 0;
    virtual std::vector<std::string> GetComponentNames() const = 0;
    virtual SignalStatistics GetStatistics() const = 0;

protected:
    SignalSource() = default;
};

using SignalSourceSharedPtr = std::shared_ptr<SignalSource>;

// A source whose atoms have the element type of TRAITS.
template <class TRAITS>
class TypedSignalSource : public SignalSource {
public:
    using Traits_t = TRAITS;

    const std::string& GetName() const override { return m_name; }
    std::int32_t BaseEnumType() const override { return TRAITS::c_baseEnumType; }
    std::vector<std::string> GetComponentNames() const override { return m_traits.GetComponentNames(); }
    const TRAITS& GetTraits() const { return m_traits; }

protected:
    TypedSignalSource(std::string name, TRAITS traits) : m_name(std::move(name)), m_traits(std::move(traits)) {}

private:
    const std::string m_name;
    const TRAITS m_traits;
};

}  // namespace isig
