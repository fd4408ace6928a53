#include "istd/log.h"

#include <cstdio>
#include <mutex>

namespace istd {

std::atomic<bool> Log::m_enabled{false};

Log& Log::GetInstance() {
    static Log instance;
    return instance;
}

void Log::Critical(const std::string& message) { Write("CRITICAL", message); }
void Log::Error(const std::string& message) { Write("ERROR", message); }

void Log::Write(const char* severity, const std::string& message) {
    static std::mutex writeLock;
    std::lock_guard<std::mutex> lock(writeLock);
    std::fprintf(stderr, "%s: %s\n", severity, message.c_str());
    std::fflush(stderr);
}

}  // namespace istd
