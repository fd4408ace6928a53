#pragma once
// The log: critical and error records go to standard error, one line each,
// prefixed with the program's name and the severity. Disabled by default:
// a program turns it on by setting m_enabled.
#include <atomic>
#include <string>

namespace istd {

class Log {
public:
    static std::atomic<bool> m_enabled;
    static Log& GetInstance();

    void Critical(const std::string& message);
    void Error(const std::string& message);

private:
    Log() = default;
    void Write(const char* severity, const std::string& message);
};

}  // namespace istd
