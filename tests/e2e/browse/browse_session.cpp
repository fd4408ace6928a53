#include "browse_session.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/faults.h"
#include "support/process.h"

namespace velnor::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds c_poll{40};

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Single quotes for sh.
std::string Quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The script of the pane: the modes before, the run, its status and
// standard error, the modes after. The pane stays when it ends
// (remain-on-exit) until the session kills its tmux server.
const char* const c_script =
    "dir=$1\n"
    "shift\n"
    "stty -g > \"$dir/before\"\n"
    "\"$@\" 2> \"$dir/stderr\"\n"
    "echo $? > \"$dir/status.tmp\"\n"
    "stty -g > \"$dir/after\"\n"
    "mv \"$dir/status.tmp\" \"$dir/status\"\n";

// Kills the tmux server of `socket` when this process ends, however it
// ends (a failed assertion, a crash, the test runner's SIGKILL on time-out):
// a process of its own, outside this one's tree and session, waits for the
// end of a pipe whose other end only this process holds. Gives that end;
// closing it kills the server too.
int GuardTmuxServer(const std::string& socket) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) throw std::runtime_error("cannot open /dev/null");
    // Built before the fork: the child only makes system calls.
    const std::string script = "cat > /dev/null; exec \"$0\" -S \"$1\" kill-server";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), VELNOR_TMUX, socket.c_str(), nullptr};
    const long maxFd = sysconf(_SC_OPEN_MAX);
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        // The grandchild is the guard: its parent ends at once, so the
        // test runner, which ends the test's children, does not end it.
        if (fork() != 0) _exit(0);
        setsid();
        dup2(ends[0], STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        // Nothing else of the test's: a pipe it held would not reach its end.
        if (close_range(3, ~0U, 0) != 0)
            for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    waitpid(child, nullptr, 0);
    close(ends[0]);
    close(devNull);
    return ends[1];
}

int ParentOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    int parent = -1;
    rest >> state >> parent;
    return parent;
}

// The browser's command line, in a session of its own when asked.
std::vector<std::string> BrowseCommand(const BrowseSession::Options& options) {
    std::vector<std::string> command;
    if (options.ownSession) command.push_back("setsid");
    command.push_back(BinPath("velnor-rove"));
    command.push_back("browse");
    command.insert(command.end(), options.args.begin(), options.args.end());
    return command;
}

}  // namespace

BrowseSession::BrowseSession(const RegistryServer& server, Options options) {
    std::vector<std::string> command = BrowseCommand(options);
    if (options.port) {
        command.push_back("--port");
        command.push_back(server.PortText());
    }
    Start(command, options);
}

BrowseSession::BrowseSession(Options options) { Start(BrowseCommand(options), options); }

void BrowseSession::Start(const std::vector<std::string>& command, const Options& options) {
    m_dir = TempDir();
    m_socket = m_dir + "/tmux";
    m_guard = GuardTmuxServer(m_socket);
    {
        std::ofstream script(m_dir + "/run.sh");
        script << c_script;
        std::ofstream config(m_dir + "/tmux.conf");
        config << "set -g default-terminal tmux-256color\nset -g status off\nset -g remain-on-exit on\n";
    }
    // The browser's environment is the test's: a short call deadline, a
    // known locale and time zone, nothing of the developer's registry.
    std::map<std::string, std::string> env = FaultEnvironment({{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"}});
    for (const auto& [k, v] : options.env) env[k] = v;
    std::string line = "exec env -u VELNOR_APP_PORT -u NO_COLOR";
    for (const auto& [k, v] : env) line += " " + Quoted(k + "=" + v);
    line += " sh " + Quoted(m_dir + "/run.sh") + " " + Quoted(m_dir);
    for (const auto& word : command) line += " " + Quoted(word);
    Tmux({"-f", m_dir + "/tmux.conf", "new-session", "-d", "-x", std::to_string(options.cols), "-y",
          std::to_string(options.rows), line});
}

BrowseSession::~BrowseSession() {
    close(m_guard);
    CloseTerminal();
}

void BrowseSession::CloseTerminal() const {
    RunOptions quiet;
    quiet.timeout = std::chrono::seconds(10);
    Run({VELNOR_TMUX, "-S", m_socket, "kill-server"}, quiet);
}

std::string BrowseSession::Tmux(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {VELNOR_TMUX, "-S", m_socket};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.timeout = std::chrono::seconds(20);
    const RunResult result = Run(argv, options);
    if (result.status != 0) throw std::runtime_error("tmux " + args.front() + " failed: " + result.err);
    return result.out;
}

std::string BrowseSession::Screen() const { return Tmux({"capture-pane", "-p"}); }
std::string BrowseSession::StyledScreen() const { return Tmux({"capture-pane", "-p", "-e"}); }

bool BrowseSession::WaitFor(const std::function<bool(const std::string&)>& condition, std::chrono::seconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        m_lastScreen = Screen();
        if (condition(m_lastScreen)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(c_poll);
    }
}

bool BrowseSession::WaitForText(const std::string& text, std::chrono::seconds bound) {
    return WaitFor([&](const std::string& screen) { return screen.find(text) != std::string::npos; }, bound);
}

bool BrowseSession::WaitForLine(int row, const std::string& text, std::chrono::seconds bound) {
    return WaitFor([&](const std::string& screen) { return Row(screen, row).find(text) != std::string::npos; }, bound);
}

void BrowseSession::Keys(const std::vector<std::string>& keys) const {
    for (const auto& key : keys) Tmux({"send-keys", key});
}

void BrowseSession::Type(const std::string& text) const { Tmux({"send-keys", "-l", text}); }

void BrowseSession::Resize(int cols, int rows) const {
    Tmux({"resize-window", "-x", std::to_string(cols), "-y", std::to_string(rows)});
}

int BrowseSession::BrowserPid() {
    if (m_pid > 0) return m_pid;
    const int shell = std::stoi(Tmux({"display-message", "-p", "#{pane_pid}"}));
    const auto deadline = Clock::now() + c_screenBound;
    while (Clock::now() < deadline) {
        if (DIR* proc = opendir("/proc")) {
            while (dirent* entry = readdir(proc)) {
                const int pid = std::atoi(entry->d_name);
                if (pid <= 0 || ParentOf(pid) != shell) continue;
                const std::string comm = ReadFileText("/proc/" + std::to_string(pid) + "/comm");
                if (comm.rfind("velnor-rove", 0) == 0) m_pid = pid;
            }
            closedir(proc);
        }
        if (m_pid > 0) return m_pid;
        std::this_thread::sleep_for(c_poll);
    }
    return -1;
}

int BrowseSession::WaitForExit(std::chrono::seconds bound) {
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        std::ifstream status(m_dir + "/status");
        int value = -1;
        if (status >> value) return value;
        std::this_thread::sleep_for(c_poll);
    }
    return -1;
}

std::string BrowseSession::Stderr() const { return ReadFileText(m_dir + "/stderr"); }
std::string BrowseSession::ModesBefore() const { return ReadFileText(m_dir + "/before"); }
std::string BrowseSession::ModesAfter() const { return ReadFileText(m_dir + "/after"); }

bool WaitUntilEnded(int pid, std::chrono::seconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (!std::getline(stat, text)) return true;
        const std::size_t close = text.rfind(')');
        if (close != std::string::npos && text.compare(close + 1, 3, " Z ") == 0) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(c_poll);
    }
}

int RowOf(const std::string& screen, const std::string& text) {
    std::istringstream lines(screen);
    std::string line;
    for (int row = 0; std::getline(lines, line); ++row)
        if (line.find(text) != std::string::npos) return row;
    return -1;
}

std::string Row(const std::string& screen, int row) {
    std::istringstream lines(screen);
    std::string line;
    for (int i = 0; std::getline(lines, line); ++i)
        if (i == row) return line;
    return std::string();
}

}  // namespace velnor::test
