#ifndef VELNOR_ISIG_ARRAY_H
#define VELNOR_ISIG_ARRAY_H
// A block of atoms: element (atom i, component j) at i * components + j.
// Owned arrays allocate and free their buffer; views only look at memory
// that someone else keeps alive.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "istd/exception.h"

namespace isig {

template <class TRAITS>
class Array {
public:
    using Element_t = typename TRAITS::Element_t;
    using Free_f = void (*)(void*);

    // An empty owned array (what a moved-from array becomes).
    Array() = default;

    // Owned, holding `atoms` atoms (contents undefined).
    Array(const TRAITS& traits, std::uint32_t atoms) : m_traits(traits) {
        CheckRuntimeAtom();
        Allocate(atoms);
        m_count = atoms;
    }

    // A view of `atoms` atoms at `data`; never freed by the array.
    Array(const TRAITS& traits, Element_t* data, std::uint32_t atoms)
        : m_traits(traits), m_count(atoms), m_capacity(atoms), m_owned(false), m_data(data) {}

    Array(Array&& other) noexcept { Take(other); }
    Array& operator=(Array&& other) noexcept {
        if (this != &other) Take(other);
        return *this;
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() = default;

    const TRAITS& GetTraits() const { return m_traits; }
    std::uint32_t GetAtomCount() const { return m_count; }
    std::uint32_t GetCapacity() const { return m_capacity; }
    bool IsOwned() const { return m_owned; }
    bool IsEmpty() const { return m_count == 0; }
    Element_t* Data() { return m_data; }
    const Element_t* Data() const { return m_data; }
    // Elements held: atom count times component count.
    std::uint64_t ElementCount() const { return std::uint64_t{m_count} * m_traits.GetComponents(); }
    std::uint64_t ByteCount() const { return ElementCount() * sizeof(Element_t); }

    // Element j of atom i, bounds checked.
    const Element_t& At(std::uint32_t i, std::uint32_t j) const {
        if (i >= m_count || j >= m_traits.GetComponents())
            throw istd::Exception("array: index out of range", true);
        return m_data[std::size_t{i} * m_traits.GetComponents() + j];
    }

    // Sets the atom count, growing the buffer (keeping the atoms held) when
    // the capacity is too small. Shrinking only changes the count.
    void Resize(std::uint32_t atoms) {
        if (m_capacity < atoms) Grow(atoms);
        m_count = atoms;
    }

    // Takes over a buffer of `atoms` atoms that `free` releases, so that a
    // block received elsewhere needs no copy.
    static Array Adopt(const TRAITS& traits, Element_t* data, std::uint32_t atoms, Free_f free) {
        Array array;
        array.m_traits = traits;
        array.m_buffer = Storage(data, free);  // freed also when the check below throws
        array.CheckRuntimeAtom();
        array.m_data = data;
        array.m_count = atoms;
        array.m_capacity = atoms;
        return array;
    }

    // Copies `atoms` atoms from `data` into a new owned array.
    static Array CopyOf(const TRAITS& traits, const Element_t* data, std::uint32_t atoms) {
        Array copy(traits, atoms);
        if (atoms > 0) std::memcpy(copy.m_data, data, static_cast<std::size_t>(copy.ByteCount()));
        return copy;
    }

    // Number of elements of `atoms` atoms, refused when the byte size does
    // not fit this machine's address space.
    static std::size_t CheckedElements(std::uint64_t atoms, std::uint32_t components) {
        const std::uint64_t limit = std::min<std::uint64_t>(std::numeric_limits<std::size_t>::max(),
                                                            std::numeric_limits<std::ptrdiff_t>::max()) /
                                    sizeof(Element_t);
        if (components != 0 && atoms > limit / components)
            throw istd::Exception("isig: Block size too large.", true);
        return static_cast<std::size_t>(atoms * components);
    }

private:
    using Storage = std::unique_ptr<void, Free_f>;

    void CheckRuntimeAtom() const {
        if (!m_traits.IsRuntimeAtomValid()) throw istd::Exception("isig: Runtime atom is not valid.", true);
    }

    static void DeleteElements(void* elements) { delete[] static_cast<Element_t*>(elements); }
    static void KeepElements(void*) {}

    void Allocate(std::uint32_t atoms) {
        const std::size_t elements = CheckedElements(atoms, m_traits.GetComponents());
        // Not value-initialised: every block is written in full before it is read.
        m_buffer = Storage(elements > 0 ? new Element_t[elements] : nullptr, &DeleteElements);
        m_data = static_cast<Element_t*>(m_buffer.get());
        m_capacity = atoms;
    }

    void Grow(std::uint32_t atoms) {
        if (!m_owned) throw istd::Exception("array: Cannot extend non-owned array.", true);
        CheckRuntimeAtom();
        Storage old = std::move(m_buffer);
        const std::uint64_t keptBytes = ByteCount();
        Allocate(atoms);
        if (keptBytes > 0) std::memcpy(m_data, old.get(), static_cast<std::size_t>(keptBytes));
    }

    void Take(Array& other) noexcept {
        m_traits = other.m_traits;
        m_count = std::exchange(other.m_count, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_owned = std::exchange(other.m_owned, true);
        m_buffer = std::move(other.m_buffer);
        m_data = std::exchange(other.m_data, nullptr);
    }

    TRAITS m_traits;
    std::uint32_t m_count = 0;
    std::uint32_t m_capacity = 0;
    bool m_owned = true;
    Storage m_buffer{nullptr, &KeepElements};
    Element_t* m_data = nullptr;
};

}  // namespace isig

#endif
