#pragma once
// Monotonic time spans and a stopwatch.
#include <chrono>
#include <cstdint>

namespace istd {

class Time {
public:
    Time() = default;
    explicit Time(std::chrono::nanoseconds span) : m_span(span) {}
    double ToSeconds() const { return std::chrono::duration<double>(m_span).count(); }
    explicit operator double() const { return ToSeconds(); }

private:
    std::chrono::nanoseconds m_span{0};
};

class StopWatch {
public:
    void Start() { m_start = Clock::now(); m_running = true; }
    void Stop() { m_elapsed = Time(Clock::now() - m_start); m_running = false; }
    // Since the latest Start: up to Stop, or up to now while running.
    Time GetElapsed() const { return m_running ? Time(Clock::now() - m_start) : m_elapsed; }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_start{Clock::now()};
    Time m_elapsed;
    bool m_running = false;
};

}  // namespace istd
