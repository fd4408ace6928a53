#pragma once
// Changes the values of nodes with an `update` generator by itself, each at
// its own period, through the store (so listeners and the state file follow).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "value_store.h"

namespace velnor::server {

// The next value of one element under a generator. `lo`/`hi` are the
// node's bounds, or the defaults of the generator when it has none.
long double NextElement(Generator generator, long double current, const Node& node, std::mt19937_64& random);

class Updater {
public:
    Updater(ValueStore& store, std::uint64_t seed);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    void Start();  // no thread when no node has a generator
    void Stop();

private:
    struct Due {
        NodeId id;
        std::chrono::steady_clock::time_point next;
    };
    void Run();
    void Step(const Node& node);

    ValueStore& m_store;
    std::mt19937_64 m_random;  // used by the update thread only
    std::vector<Due> m_schedule;

    std::mutex m_lock;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace velnor::server
