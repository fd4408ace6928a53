#ifndef VELNOR_ISIG_META_BUFFER_PAIR_H
#define VELNOR_ISIG_META_BUFFER_PAIR_H
// One block of atoms with its metadata. Shared between a stream and the
// queues of its clients, so holders must not change it.
#include <memory>
#include <utility>

#include "isig/array.h"
#include "isig/signal_meta.h"

namespace isig {

template <class TRAITS>
class MetaBufferPair {
public:
    MetaBufferPair(Array<TRAITS>&& array, SignalMeta meta) : m_array(std::move(array)), m_meta(std::move(meta)) {}

    const Array<TRAITS>& GetArray() const { return m_array; }
    const SignalMeta& GetMeta() const { return m_meta; }
    Array<TRAITS>& GetArray() { return m_array; }

private:
    Array<TRAITS> m_array;
    SignalMeta m_meta;
};

template <class TRAITS>
using MetaBufferPairPtr = std::shared_ptr<MetaBufferPair<TRAITS>>;

}  // namespace isig

#endif
