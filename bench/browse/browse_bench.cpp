// Drives velnor-rove browse in a pseudo-terminal and measures it from the
// outside: when bytes of a screen arrive, how much CPU the process uses, how
// many frames it writes, its resident memory; and reads the figures the
// browser keeps itself (VELNOR_BROWSE_STATS). One scenario a run; perf.sh
// starts the servers and prints the figures beside their targets.
//
//   bench_browse SCENARIO PORT PATH [SECONDS]
//
// Scenarios: first-screen, expand, watch, idle, plot. Output: "name value"
// lines.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Browser {
    pid_t pid = -1;
    int fd = -1;
    std::string screen;  // every byte written so far
    std::string stats;   // the stats file

    Browser(const std::string& program, int port, const std::string& path, const std::string& stats_file) : stats(stats_file) {
        winsize size{};
        size.ws_col = 120;
        size.ws_row = 40;
        const pid_t parent = getpid();
        pid = forkpty(&fd, nullptr, nullptr, &size);
        if (pid < 0) {
            std::perror("forkpty");
            std::exit(2);
        }
        if (pid == 0) {
            // The browser ends with the bench, however the bench ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            setenv("TERM", "xterm-256color", 1);
            setenv("LANG", "C.UTF-8", 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            setenv("VELNOR_BROWSE_STATS", stats_file.c_str(), 1);
            unsetenv("VELNOR_APP_PORT");
            const std::string portText = std::to_string(port);
            if (path.empty())
                execl(program.c_str(), program.c_str(), "browse", "--port", portText.c_str(), nullptr);
            else
                execl(program.c_str(), program.c_str(), "browse", path.c_str(), "--port", portText.c_str(), nullptr);
            _exit(127);
        }
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }

    // A browser still running (a scenario that failed half-way) is killed
    // and reaped; its terminal closes.
    ~Browser() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(fd);
        std::remove(stats.c_str());
    }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Reads what is there within `wait`; gives the bytes read.
    std::size_t Read(std::chrono::milliseconds wait) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return 0;
        char buffer[65536];
        std::size_t total = 0;
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            screen.append(buffer, static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
        }
        return total;
    }

    // Reads until `text` has been written after byte `from`; the time it took.
    bool WaitFor(const std::string& text, std::size_t from, std::chrono::seconds bound = std::chrono::seconds(30)) {
        const auto deadline = Clock::now() + bound;
        while (screen.find(text, from) == std::string::npos) {
            if (Clock::now() > deadline) return false;
            Read(std::chrono::milliseconds(100));
        }
        return true;
    }

    void Send(const std::string& keys) {
        if (write(fd, keys.data(), keys.size()) < 0) std::perror("write");
    }

    // User and system CPU of the process so far, in seconds.
    double Cpu() const {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        for (int i = 0; i < 11; ++i) fields >> skip;
        double utime = 0, stime = 0;
        fields >> utime >> stime;
        return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    long RssKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        return -1;
    }

    void Quit() {
        Send("q");
        for (int i = 0; i < 100; ++i) {
            Read(std::chrono::milliseconds(50));
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return;
            }
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

    // The browser's own figures, named after the scenario.
    void PrintStats(std::string scenario) const {
        std::replace(scenario.begin(), scenario.end(), '-', '_');
        std::ifstream in(stats);
        std::string name, value;
        while (in >> name >> value) std::printf("%s_inside_%s %s\n", scenario.c_str(), name.c_str(), value.c_str());
    }
};

// Frames: bursts of output separated by at least 8 ms of silence, over `seconds`.
int CountFrames(Browser& b, double seconds, std::size_t& bytes) {
    int frames = 0;
    bool inBurst = false;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const std::size_t n = b.Read(std::chrono::milliseconds(8));
        bytes += n;
        if (n > 0 && !inBurst) ++frames;
        inBurst = n > 0;
        // The screen text is not needed here: keep memory flat.
        if (b.screen.size() > (1u << 20)) b.screen.erase(0, b.screen.size() - 4096);
    }
    return frames;
}

// CPU of the process (percent of one core) and frames written over `seconds`.
struct Load {
    double cpuPercent = 0;
    double framesPerSecond = 0;
    int frames = 0;
    std::size_t bytes = 0;
};

Load Measure(Browser& b, double seconds) {
    Load load;
    const double cpu0 = b.Cpu();
    const auto t0 = Clock::now();
    load.frames = CountFrames(b, seconds, load.bytes);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    load.cpuPercent = 100 * (b.Cpu() - cpu0) / elapsed;
    load.framesPerSecond = load.frames / elapsed;
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_browse PROGRAM SCENARIO PORT PATH [SECONDS]\n");
        return 2;
    }
    const std::string program = argv[1];
    const std::string scenario = argv[2];
    const int port = std::atoi(argv[3]);
    const std::string path = std::string(argv[4]) == "-" ? std::string() : argv[4];
    const double seconds = argc > 5 ? std::atof(argv[5]) : 10.0;
    const char* tmp = std::getenv("TMPDIR");
    std::string statsTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/browse-bench-XXXXXX";
    const int statsFd = mkstemp(statsTemplate.data());
    if (statsFd < 0) {
        std::perror("mkstemp");
        return 2;
    }
    close(statsFd);

    const auto start = Clock::now();
    Browser b(program, port, path, statsTemplate);
    if (scenario == "first-screen") {
        // The demo's last top-level node, drawn once its level is read.
        if (!b.WaitFor("trigger", 0)) return 1;
        std::printf("first_screen_ms %.2f\n", Ms(Clock::now() - start));
    } else if (scenario == "expand") {
        // PATH's parent is shown with PATH closed; PATH is the next row.
        if (!b.WaitFor("\u25b8 big", 0)) return 1;
        b.Read(std::chrono::milliseconds(300));
        b.Send("j");
        b.Read(std::chrono::milliseconds(300));
        const std::size_t from = b.screen.size();
        const auto t0 = Clock::now();
        b.Send("\r");
        if (!b.WaitFor("n00013", from)) return 1;
        std::printf("expand_10000_ms %.2f\n", Ms(Clock::now() - t0));
        b.Read(std::chrono::milliseconds(500));
        // Key presses with 10,000 nodes loaded: time to the first byte of the
        // redraw, one key at a time.
        std::vector<double> latencies;
        for (int i = 0; i < 200; ++i) {
            b.Read(std::chrono::milliseconds(20));
            const auto k0 = Clock::now();
            b.Send(i % 40 < 20 ? "j" : "k");
            while (b.Read(std::chrono::milliseconds(1000)) == 0) {
            }
            latencies.push_back(Ms(Clock::now() - k0));
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("key_redraw_median_ms %.2f\nkey_redraw_p99_ms %.2f\nkey_redraw_max_ms %.2f\n",
                    latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100], latencies.back());
        std::printf("rss_10000_kib %ld\n", b.RssKiB());
    } else if (scenario == "watch") {
        if (!b.WaitFor("Watch (0)", 0)) return 1;
        b.Read(std::chrono::milliseconds(300));
        const std::size_t from = b.screen.size();
        b.Send("w");  // the start node: its value nodes
        // Only the cells that change are written: "0)" becomes "1000)".
        if (!b.WaitFor("1000)", from)) return 1;
        b.Read(std::chrono::milliseconds(2000));
        const Load load = Measure(b, seconds);
        std::printf("watch_cpu_percent %.1f\nwatch_frames_per_s %.1f\n", load.cpuPercent, load.framesPerSecond);
    } else if (scenario == "idle") {
        if (!b.WaitFor("trigger", 0)) return 1;
        b.Read(std::chrono::milliseconds(1000));
        const Load load = Measure(b, seconds);
        std::printf("idle_cpu_percent %.2f\nidle_frames %d\nidle_bytes %zu\n", load.cpuPercent, load.frames, load.bytes);
    } else if (scenario == "plot") {
        if (!b.WaitFor("signal]", 0)) return 1;
        b.Read(std::chrono::milliseconds(300));
        const std::size_t from = b.screen.size();
        b.Send("jp");
        if (!b.WaitFor("atoms/s", from)) return 1;
        b.Read(std::chrono::milliseconds(2000));
        const Load load = Measure(b, seconds);
        std::printf("plot_cpu_percent %.1f\nplot_frames_per_s %.1f\nplot_rss_kib %ld\n", load.cpuPercent,
                    load.framesPerSecond, b.RssKiB());
    } else if (scenario == "quit-stopped") {
        // q with the server stopped and a registry call on its way: the
        // time from the key to the end of the process. SECONDS is the
        // server's process id here.
        const pid_t server = static_cast<pid_t>(seconds);
        if (!b.WaitFor("\u25b8 big", 0)) return 1;
        b.Read(std::chrono::milliseconds(300));
        kill(server, SIGSTOP);
        b.Send("j\r");
        b.Read(std::chrono::milliseconds(200));
        const auto q0 = Clock::now();
        b.Send("q");
        int status = 0;
        const auto bound = q0 + std::chrono::seconds(30);
        while (waitpid(b.pid, &status, WNOHANG) != b.pid && Clock::now() < bound) b.Read(std::chrono::milliseconds(1));
        const auto q1 = Clock::now();
        kill(server, SIGCONT);
        if (q1 >= bound) return 1;
        b.pid = -1;
        std::printf("quit_stopped_ms %.2f\n", Ms(q1 - q0));
        b.PrintStats(scenario);
        return 0;
    } else {
        std::fprintf(stderr, "bench_browse: unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    b.Quit();
    b.PrintStats(scenario);
    return 0;
}
