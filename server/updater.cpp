#include "updater.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velnor::server {

namespace {

template <class T>
T FromLongDouble(long double v) {
    if constexpr (std::is_same_v<T, bool>) {
        return v != 0;
    } else if constexpr (std::is_integral_v<T>) {
        const long double lo = static_cast<long double>(std::numeric_limits<T>::min());
        const long double hi = static_cast<long double>(std::numeric_limits<T>::max());
        return static_cast<T>(std::clamp(std::round(v), lo, hi));
    } else {
        return static_cast<T>(v);
    }
}

// The largest value a node of `type` can hold.
long double TypeMax(ValueType type) {
    switch (type) {
        case ValueType::Int32: return std::numeric_limits<int>::max();
        case ValueType::UInt32: return std::numeric_limits<unsigned int>::max();
        case ValueType::Int64: return static_cast<long double>(std::numeric_limits<long long>::max());
        case ValueType::UInt64: return static_cast<long double>(std::numeric_limits<unsigned long long>::max());
        case ValueType::Float: return std::numeric_limits<float>::max();
        default: return std::numeric_limits<double>::max();
    }
}

long double Counter(long double current, const Node& node) {
    const long double lo = node.min.value_or(0);
    const long double hi = node.max.value_or(TypeMax(node.type));
    const long double next = current + 1;
    return next > hi ? lo : next;
}

long double Ramp(long double current, const Node& node) {
    const long double lo = node.min.value_or(0);
    const long double hi = node.max.value_or(100);
    long double step = (hi - lo) / 20;
    if (IsIntegral(node.type)) step = std::max<long double>(1, std::round(step));
    if (step <= 0) return lo;
    const long double next = current + step;
    return next > hi ? lo : next;
}

long double RandomWalk(long double current, const Node& node, std::mt19937_64& random) {
    const bool bounded = node.min && node.max;
    const long double scale = bounded ? (*node.max - *node.min) / 50 : 1;
    long double next = current;
    if (IsIntegral(node.type)) {
        const long long s = std::max<long long>(1, static_cast<long long>(std::llround(static_cast<double>(scale))));
        next += static_cast<long double>(std::uniform_int_distribution<long long>(-s, s)(random));
    } else {
        next += std::uniform_real_distribution<double>(-static_cast<double>(scale), static_cast<double>(scale))(random);
    }
    if (node.min) next = std::max(next, *node.min);
    if (node.max) next = std::min(next, *node.max);
    return std::clamp(next, -TypeMax(node.type), TypeMax(node.type));
}

// Every element of `value` moved on by the node's generator.
template <class T>
Elements Advance(const std::vector<T>& value, const Node& node, std::mt19937_64& random) {
    std::vector<T> next;
    next.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const long double current = static_cast<long double>(static_cast<T>(value[i]));
        next.push_back(FromLongDouble<T>(NextElement(node.update->generator, current, node, random)));
    }
    return next;
}

}  // namespace

long double NextElement(Generator generator, long double current, const Node& node, std::mt19937_64& random) {
    switch (generator) {
        case Generator::Toggle: return current != 0 ? 0 : 1;
        case Generator::Counter: return Counter(current, node);
        case Generator::Ramp: return Ramp(current, node);
        case Generator::RandomWalk: return RandomWalk(current, node, random);
    }
    return current;
}

Updater::Updater(ValueStore& store, std::uint64_t seed) : m_store(store), m_random(seed) {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& node : store.GetTree().nodes)
        if (node.update)
            m_schedule.push_back({node.id, now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                     std::chrono::duration<double>(node.update->period))});
}

Updater::~Updater() { Stop(); }

void Updater::Start() {
    if (m_schedule.empty() || m_thread.joinable()) return;
    m_thread = std::thread([this] { Run(); });
}

void Updater::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void Updater::Run() {
    for (;;) {
        auto earliest = std::min_element(m_schedule.begin(), m_schedule.end(),
                                         [](const Due& a, const Due& b) { return a.next < b.next; });
        {
            std::unique_lock lock(m_lock);
            if (m_wake.wait_until(lock, earliest->next, [this] { return m_stop; })) return;
        }
        const Node& node = m_store.GetTree().nodes[earliest->id];
        Step(node);
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(node.update->period));
        const auto now = std::chrono::steady_clock::now();
        earliest->next += period;
        // After a stall, carry on from now rather than catching up in a burst.
        if (earliest->next < now) earliest->next = now + period;
    }
}

void Updater::Step(const Node& node) {
    const Elements current = m_store.Current(node);
    Elements next = std::visit(
        [this, &node](const auto& v) -> Elements {
            using Vec = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<Vec, std::monostate> || std::is_same_v<Vec, std::vector<std::string>>)
                return std::monostate{};
            else
                return Advance(v, node, m_random);
        },
        current);
    if (ElementCount(next) == 0) return;
    try {
        m_store.WriteInternal(node, 0, std::move(next));
    } catch (const std::exception&) {
        // A failed save leaves the value as it was; the next period tries again.
    }
}

}  // namespace velnor::server
