#pragma once
// Process-wide identities: each Id<Tag, T> constructed takes the next value
// of its tag's counter. The library that owns a tag defines its counter.
#include <mutex>

namespace istd {

template <class Tag, class T>
struct IdCounter {
    static T s_value;
    static std::mutex s_mutex;
};

template <class Tag, class T>
class Id {
public:
    Id() {
        std::lock_guard<std::mutex> lock(IdCounter<Tag, T>::s_mutex);
        m_value = ++IdCounter<Tag, T>::s_value;
    }
    T Value() const { return m_value; }
    bool operator==(const Id& other) const { return m_value == other.m_value; }
    bool operator<(const Id& other) const { return m_value < other.m_value; }

private:
    T m_value;
};

}  // namespace istd
