#include "support/tmux_shell.h"

#include <stdexcept>
#include <thread>

#include "support/process.h"

namespace velnor::test {

TmuxShell::TmuxShell(const std::string& workDir, const std::string& rcFile, std::map<std::string, std::string> env)
    : m_socket(TempDir() + "/tmux.sock") {
    env.emplace("PATH", "/usr/bin:/bin");
    env.emplace("TERM", "xterm");
    std::vector<std::string> command = {"new-session", "-d", "-x", "160", "-y", "50", "-c", workDir, "env", "-i"};
    for (const auto& [name, value] : env) command.push_back(name + "=" + value);
    for (const char* word : {"bash", "--noprofile", "--rcfile"}) command.emplace_back(word);
    command.push_back(rcFile);
    command.emplace_back("-i");
    Tmux(command);
}

TmuxShell::~TmuxShell() {
    try {
        Tmux({"kill-server"});
    } catch (const std::exception&) {
        // Gone already.
    }
}

std::string TmuxShell::Tmux(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"tmux", "-S", m_socket, "-f", "/dev/null"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.env["TERM"] = "xterm";
    options.unsetEnv = {"TMUX"};  // a test run from inside tmux starts a server of its own all the same
    argv.insert(argv.begin(), "/usr/bin/env");
    const RunResult r = Run(argv, options);
    if (r.status != 0) throw std::runtime_error("tmux " + args.front() + " failed (" + std::to_string(r.status) + "): " + r.err);
    return r.out;
}

void TmuxShell::Type(const std::string& text) { Tmux({"send-keys", "-l", text}); }

void TmuxShell::Press(const std::string& key) { Tmux({"send-keys", key}); }

std::string TmuxShell::Screen() const { return Tmux({"capture-pane", "-p"}); }

bool TmuxShell::WaitForLastLine(const std::string& line, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::string screen = Screen();
        while (!screen.empty() && (screen.back() == '\n' || screen.back() == ' ')) screen.pop_back();
        const std::size_t start = screen.rfind('\n');
        if (screen.substr(start == std::string::npos ? 0 : start + 1) == line) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace velnor::test
