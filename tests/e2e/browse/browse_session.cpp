#include "browse_session.h"

#include <dirent.h>

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
// standard error, the modes after; then the pane stays.
const char* const c_script =
    "dir=$1\n"
    "shift\n"
    "stty -g > \"$dir/before\"\n"
    "\"$@\" 2> \"$dir/stderr\"\n"
    "echo $? > \"$dir/status.tmp\"\n"
    "stty -g > \"$dir/after\"\n"
    "mv \"$dir/status.tmp\" \"$dir/status\"\n"
    "exec sleep 100000\n";

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

}  // namespace

BrowseSession::BrowseSession(const RegistryServer& server, Options options) {
    std::vector<std::string> command = {BinPath("velnor-rove"), "browse"};
    command.insert(command.end(), options.args.begin(), options.args.end());
    if (options.port) {
        command.push_back("--port");
        command.push_back(server.PortText());
    }
    Start(command, options);
}

BrowseSession::BrowseSession(Options options) {
    std::vector<std::string> command = {BinPath("velnor-rove"), "browse"};
    command.insert(command.end(), options.args.begin(), options.args.end());
    Start(command, options);
}

void BrowseSession::Start(const std::vector<std::string>& command, const Options& options) {
    m_dir = TempDir();
    m_socket = m_dir + "/tmux";
    {
        std::ofstream script(m_dir + "/run.sh");
        script << c_script;
        std::ofstream config(m_dir + "/tmux.conf");
        config << "set -g default-terminal tmux-256color\nset -g status off\n";
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
