#pragma once
// An interactive bash in a terminal of its own: a tmux server on a socket
// of the test's own directory (never the user's tmux), one window running
// `bash --rcfile RC -i` with only the environment given. Keys are typed
// with send-keys, the screen read with capture-pane. The server is killed
// when the object goes.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace velnor::test {

class TmuxShell {
public:
    // Starts bash in `workDir` with `rcFile` and exactly `env` (PATH and
    // TERM are added when missing). Throws when tmux cannot start it.
    TmuxShell(const std::string& workDir, const std::string& rcFile, std::map<std::string, std::string> env = {});
    ~TmuxShell();
    TmuxShell(const TmuxShell&) = delete;
    TmuxShell& operator=(const TmuxShell&) = delete;

    // Types `text` as it stands; presses one key by its tmux name ("Tab",
    // "Enter", "C-u").
    void Type(const std::string& text);
    void Press(const std::string& key);
    // The screen, one line per row, trailing blanks removed.
    std::string Screen() const;
    // Waits until the last line of the screen that is not empty is `line`;
    // false after `timeout`.
    bool WaitForLastLine(const std::string& line, std::chrono::milliseconds timeout) const;

private:
    std::string Tmux(const std::vector<std::string>& args) const;
    std::string m_socket;
};

}  // namespace velnor::test
