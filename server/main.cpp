// velnor-registryd: serves the node tree of a YAML file as the application
// and platform registries.
#include <pthread.h>
#include <unistd.h>

#include <boost/program_options.hpp>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "daemon.h"
#include "memory_trim.h"
#include "velnor/wire.h"

namespace po = boost::program_options;
using velnor::server::DaemonOptions;

namespace {

const char* const c_usage = "Usage: velnor-registryd --tree FILE [--port N] [--listen ADDR] [--state FILE]";

po::options_description Describe(DaemonOptions& options, unsigned& port) {
    po::options_description description("Options");
    description.add_options()
        ("help,h", "Print this help and exit.")
        ("version", "Print the version and exit.")
        ("tree,t", po::value(&options.treeFile)->value_name("FILE"), "The tree file (YAML) to serve. Required.")
        ("port,p", po::value(&port)->value_name("N")->default_value(velnor::wire::c_defaultPort),
         "TCP port; 0 picks a free one.")
        ("listen,l", po::value(&options.listen)->value_name("ADDR")->default_value(options.listen),
         "Numeric IP address to listen on.")
        ("state,s", po::value(&options.stateFile)->value_name("FILE"),
         "Keeps the values of persistent nodes in FILE across restarts.")
        ("discard-damaged-state", po::bool_switch(&options.discardDamagedState),
         "When the state file is damaged (cut short, changed), serve the tree's values instead of refusing to "
         "start; the next saved write replaces the file.")
        ("max-connections", po::value(&options.connections.total)->value_name("N")->default_value(options.connections.total),
         "Connections of all clients together; more are closed at once.")
        ("max-peer-connections", po::value(&options.connections.perPeer)->value_name("N")
             ->default_value(options.connections.perPeer),
         "TCP connections of one client address (on this machine: of one user); more are closed at once.");
    return description;
}

// The options, or the exit code when the run ends here.
std::optional<DaemonOptions> ParseOptions(int argc, char** argv, int& exitCode) {
    DaemonOptions options;
    unsigned port = 0;
    const po::options_description description = Describe(options, port);
    po::variables_map values;
    try {
        po::store(po::command_line_parser(argc, argv).options(description).run(), values);
        po::notify(values);
    } catch (const po::error& e) {
        std::cerr << "velnor-registryd: " << e.what() << "\n" << c_usage << "\n";
        exitCode = velnor::server::c_exitBadInput;
        return std::nullopt;
    }
    if (values.count("help")) {
        std::cout << c_usage << "\n\n" << description;
        exitCode = velnor::server::c_exitOk;
        return std::nullopt;
    }
    if (values.count("version")) {
        std::cout << "velnor-registryd " << VELNOR_VERSION << "\n";
        exitCode = velnor::server::c_exitOk;
        return std::nullopt;
    }
    if (options.treeFile.empty() || port > 65535) {
        std::cerr << "velnor-registryd: " << (port > 65535 ? "the port must be at most 65535" : "--tree FILE is required")
                  << "\n" << c_usage << "\n";
        exitCode = velnor::server::c_exitBadInput;
        return std::nullopt;
    }
    options.port = static_cast<std::uint16_t>(port);
    return options;
}

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
    return set;
}

// Takes the stop signals in a thread of its own from the start on. While
// the files are read, which may block for good (a pipe nobody writes, a
// hung file system), a stop signal ends the process at once: nothing has
// been created yet that would need cleaning up. Later it asks the server
// to stop in order.
class StopWatch {
public:
    explicit StopWatch(const sigset_t& signals) : m_signals(signals), m_thread([this] { Run(); }) {}
    ~StopWatch() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_closing = true;
        }
        // Ends the sigwait when no signal came (the start failed).
        if (!Stopped()) pthread_kill(m_thread.native_handle(), SIGTERM);
        m_thread.join();
    }
    StopWatch(const StopWatch&) = delete;
    StopWatch& operator=(const StopWatch&) = delete;

    // The files are read: from now on a stop signal stops in order.
    void Loaded() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_loading = false;
    }
    // Until a stop signal came.
    void Wait() {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_stopped; });
    }

private:
    bool Stopped() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stopped;
    }

    void Run() {
        int signal = 0;
        sigwait(&m_signals, &signal);
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_loading && !m_closing) ::_exit(velnor::server::c_exitOk);
        m_stopped = true;
        m_changed.notify_all();
    }

    const sigset_t m_signals;
    std::mutex m_lock;  // guards the three flags
    std::condition_variable m_changed;
    bool m_loading = true;
    bool m_stopped = false;
    bool m_closing = false;
    std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv) {
    velnor::server::TuneAllocator();
    // Blocked before any thread exists, so that every thread (the ORB's
    // included) inherits the mask and only the stop watch's sigwait sees them.
    const sigset_t stopSignals = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A shell starts background jobs with SIGINT ignored; an ignored signal
    // is discarded before sigwait could take it.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, SIG_DFL);
    std::signal(SIGPIPE, SIG_IGN);

    int exitCode = velnor::server::c_exitOk;
    const std::optional<DaemonOptions> options = ParseOptions(argc, argv, exitCode);
    if (!options) return exitCode;

    velnor::server::Daemon daemon;
    {
        StopWatch stop(stopSignals);
        exitCode = daemon.Load(*options, std::cerr);
        if (exitCode == velnor::server::c_exitOk) {
            stop.Loaded();
            exitCode = daemon.Serve(*options, std::cout, std::cerr);
        }
        if (exitCode == velnor::server::c_exitOk) stop.Wait();
    }
    daemon.Stop();
    return exitCode;
}
