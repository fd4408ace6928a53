#pragma once
// The one exception type of the system.
#include <exception>
#include <ostream>
#include <string>

namespace istd {

class Exception : public std::exception {
public:
    Exception(const char* message, bool flag) : m_message(message ? message : ""), m_flag(flag) {}
    Exception(const std::string& message, bool flag) : m_message(message), m_flag(flag) {}
    ~Exception() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    // True for every exception the system raises on its own checks.
    bool IsFlagged() const noexcept { return m_flag; }

private:
    std::string m_message;
    bool m_flag;
};

inline std::ostream& operator<<(std::ostream& os, const Exception& e) { return os << e.what(); }

// Reports a failed assertion (to the trace file at level 1 and to the log)
// and returns, so that the caller goes on.
void LoggedAssert(const char* file, int line, const char* function, const std::string& message);

}  // namespace istd
