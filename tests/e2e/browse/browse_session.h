#pragma once
// The real velnor-rove browse in a pseudo-terminal: a tmux server of the
// test's own (its socket in a temporary directory, killed when the session
// or the test process ends, however it ends), one pane running a
// small shell script that records the terminal modes (stty -g) before and
// after the run, the exit status and standard error. The test sends keys
// and waits for screen conditions (capture-pane) with a wide bound.
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/registry_server.h"

namespace velnor::test {

// Wide: a sanitized browser on a busy two-core machine is slow.
constexpr std::chrono::seconds c_screenBound{60};

class BrowseSession {
public:
    struct Options {
        int cols = 100;
        int rows = 30;
        std::vector<std::string> args;              // after "browse"
        std::map<std::string, std::string> env;     // for the browser
        bool port = true;                           // --port of the server
        // In a session of its own (setsid): the terminal is not its
        // controlling one, so no SIGHUP comes when the terminal goes away.
        bool ownSession = false;
    };
    BrowseSession(const RegistryServer& server, Options options);
    explicit BrowseSession(Options options);        // no registry
    ~BrowseSession();
    BrowseSession(const BrowseSession&) = delete;
    BrowseSession& operator=(const BrowseSession&) = delete;

    // The screen as text, one line a row (capture-pane -p); with the SGR
    // sequences of its styles (capture-pane -e).
    std::string Screen() const;
    std::string StyledScreen() const;
    // Waits until the screen meets `condition`; false after `bound` (the
    // last screen is kept for the failure message, LastScreen()).
    bool WaitFor(const std::function<bool(const std::string&)>& condition,
                 std::chrono::seconds bound = c_screenBound);
    bool WaitForText(const std::string& text, std::chrono::seconds bound = c_screenBound);
    bool WaitForLine(int row, const std::string& text, std::chrono::seconds bound = c_screenBound);
    const std::string& LastScreen() const { return m_lastScreen; }

    // tmux key names ("Enter", "Up", "C-c"), one by one.
    void Keys(const std::vector<std::string>& keys) const;
    // Text typed as it is.
    void Type(const std::string& text) const;
    void Resize(int cols, int rows) const;
    // The terminal goes away: the tmux server is killed, and with it the
    // pseudo-terminal's master side.
    void CloseTerminal() const;

    // The browser's process id (waits for it to run); -1 when it ended.
    int BrowserPid();
    // Waits for the browser to end: its exit status, -1 after the bound.
    int WaitForExit(std::chrono::seconds bound = c_screenBound);
    std::string Stderr() const;
    std::string ModesBefore() const;
    std::string ModesAfter() const;
    const std::string& Dir() const { return m_dir; }

private:
    void Start(const std::vector<std::string>& command, const Options& options);
    std::string Tmux(const std::vector<std::string>& args) const;

    std::string m_dir;
    std::string m_socket;
    int m_guard = -1;  // its end kills the tmux server (GuardTmuxServer)
    std::string m_lastScreen;
    int m_pid = -1;
};

// Waits until the process `pid` has ended (gone, or a zombie); false after
// `bound`.
bool WaitUntilEnded(int pid, std::chrono::seconds bound = c_screenBound);

// The row of the screen (0-based) that holds `text`, or -1.
int RowOf(const std::string& screen, const std::string& text);
std::string Row(const std::string& screen, int row);

}  // namespace velnor::test
