// bench_listen [WRITES] [LATENCY_SAMPLES]
//
// Starts velnor-registryd (bench tree) and `velnor-rove listen` on
// bench.counter, writes through the registry library in this process and
// reads the listener's lines as they come:
//   latency   accepted write (Set returned) -> its line read from the
//             listener, median and 90th percentile, beside the write's own
//             round trip (the baseline of the same run) as a ratio;
//   burst     WRITES (100000) writes back to back: lines received, lost,
//             write rate and delivery rate;
//   alone     the same burst with no listener: the writers' baseline;
//   stalled   the same burst with the listener stopped (SIGSTOP): the server
//             drops the listener, the writers go on.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mci/mci.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A child process whose standard output is read line by line.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        m_fd = fds[0];
    }
    ~Process() {
        Signal(SIGCONT);
        Signal(SIGTERM);
        int status;
        if (m_pid > 0) waitpid(m_pid, &status, 0);
        if (m_fd >= 0) close(m_fd);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Signal(int signal) const {
        if (m_pid > 0) kill(m_pid, signal);
    }
    // The next line, or false when none comes within `timeout`.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto end = m_buffer.find('\n', m_start);
            if (end != std::string::npos) {
                line.assign(m_buffer, m_start, end - m_start);
                m_start = end + 1;
                if (m_start > 1 << 20) {
                    m_buffer.erase(0, m_start);
                    m_start = 0;
                }
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[65536];
            const ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n <= 0) return false;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_buffer;
    std::size_t m_start = 0;
};

std::string Bin(const std::string& name) { return std::string(VELNOR_BENCH_BIN_DIR) + "/" + name; }

int StartServer(std::unique_ptr<Process>& server) {
    server = std::make_unique<Process>(
        std::vector<std::string>{Bin("velnor-registryd"), "--tree", VELNOR_BENCH_TREE, "--port", "0"});
    std::string line;
    if (!server->ReadLine(line, 10s)) throw std::runtime_error("velnor-registryd did not start");
    return std::stoi(line.substr(line.rfind(':') + 1));
}

const std::string c_prefix = "bench-host.bench.counter=";

// The listener announces a node before it subscribes it: write until the
// first line shows that the subscription is in place.
std::unique_ptr<Process> StartListener(int port, const mci::Node& node) {
    auto listener = std::make_unique<Process>(std::vector<std::string>{
        Bin("velnor-rove"), "listen", "bench.counter", "--port", std::to_string(port)});
    std::string line;
    for (int i = 0; i < 2; ++i)
        if (!listener->ReadLine(line, 10s)) throw std::runtime_error("velnor-rove listen did not start");
    for (int i = 0; i < 200; ++i) {
        node.Set(std::vector<unsigned long long>{1}, 0);
        if (listener->ReadLine(line, 50ms)) {
            while (listener->ReadLine(line, 100ms)) {
            }
            return listener;
        }
    }
    throw std::runtime_error("velnor-rove listen printed nothing");
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

void Latency(const mci::Node& node, Process& listener, int samples) {
    std::vector<double> latency;
    std::vector<double> roundTrip;
    std::uint64_t value = 1000000000;
    for (int i = 0; i < samples; ++i) {
        ++value;
        const auto start = Clock::now();
        node.Set(std::vector<unsigned long long>{value}, 0);
        const auto accepted = Clock::now();
        std::string line;
        const std::string expected = c_prefix + std::to_string(value);
        while (line != expected)
            if (!listener.ReadLine(line, 5s)) throw std::runtime_error("notification not printed: " + expected + " last " + line);
        latency.push_back(Micros(Clock::now() - accepted));
        roundTrip.push_back(Micros(accepted - start));
    }
    const double median = Percentile(latency, 0.5);
    const double baseline = Percentile(roundTrip, 0.5);
    std::printf("latency   write accepted -> line printed: median %.0f us, p90 %.0f us (%d samples)\n", median,
                Percentile(latency, 0.9), samples);
    std::printf("          baseline write round trip: median %.0f us; ratio %.2f\n", baseline, median / baseline);
}

struct BurstResult {
    double writeRate = 0;
    std::uint64_t received = 0;
    double deliveryRate = 0;
};

// Counts the listener's lines until the last value arrives or the lines stop.
std::uint64_t CountLines(Process& listener, std::uint64_t last, Clock::time_point& lastLineAt) {
    std::uint64_t count = 0;
    const std::string final = c_prefix + std::to_string(last);
    std::string line;
    while (listener.ReadLine(line, 3s)) {
        if (line.rfind(c_prefix, 0) != 0) continue;
        ++count;
        lastLineAt = Clock::now();
        if (line == final) break;
    }
    return count;
}

BurstResult Burst(const mci::Node& node, Process& listener, int writes, std::uint64_t base, bool stalled) {
    BurstResult r;
    Clock::time_point lastLineAt = Clock::now();
    std::atomic<std::uint64_t> received{0};
    std::thread reader;
    if (!stalled)
        reader = std::thread([&] { received = CountLines(listener, base + static_cast<std::uint64_t>(writes), lastLineAt); });
    const auto start = Clock::now();
    for (int i = 1; i <= writes; ++i) node.Set(std::vector<unsigned long long>{base + static_cast<std::uint64_t>(i)}, 0);
    const auto written = Clock::now();
    r.writeRate = writes / std::chrono::duration<double>(written - start).count();
    if (stalled) {
        listener.Signal(SIGCONT);
        received = CountLines(listener, base + static_cast<std::uint64_t>(writes), lastLineAt);
    } else {
        reader.join();
    }
    r.received = received.load();
    r.deliveryRate = r.received / std::max(1e-9, std::chrono::duration<double>(lastLineAt - start).count());
    return r;
}

void Report(const char* name, int writes, const BurstResult& r) {
    std::printf("%-9s %d writes: %.0f writes/s; %llu lines received, %llu lost; delivery %.0f lines/s\n", name, writes,
                r.writeRate, static_cast<unsigned long long>(r.received),
                static_cast<unsigned long long>(writes - static_cast<long long>(r.received)), r.deliveryRate);
}

}  // namespace

int main(int argc, char** argv) {
    const int writes = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 500;
    std::signal(SIGPIPE, SIG_IGN);
    try {
        mci::Init(argc, argv);
        std::unique_ptr<Process> server;
        const int port = StartServer(server);
        const mci::Node root = mci::Connect("", mci::eApplicationRoot, port, false);
        const mci::Node node = root.GetNode(mci::Tokenize("bench.counter"));
        {
            auto listener = StartListener(port, node);
            Latency(node, *listener, samples);
            Report("burst", writes, Burst(node, *listener, writes, 0, false));
        }
        {
            const auto start = Clock::now();
            for (int i = 1; i <= writes; ++i) node.Set(std::vector<unsigned long long>{5000000ull + i}, 0);
            std::printf("alone     %d writes: %.0f writes/s\n", writes,
                        writes / std::chrono::duration<double>(Clock::now() - start).count());
        }
        {
            auto listener = StartListener(port, node);
            listener->Signal(SIGSTOP);
            Report("stalled", writes, Burst(node, *listener, writes, 10000000, true));
        }
        mci::Shutdown();
    } catch (const std::exception& e) {
        std::cerr << "bench_listen: " << e.what() << std::endl;
        mci::Shutdown();
        return 1;
    }
    return 0;
}
