#include "istd/trace.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace istd {
namespace {

// The sink behind the trace file; every record is written whole under the lock.
struct TraceSink {
    std::mutex lock;
    std::FILE* file = nullptr;
    bool ownsFile = false;
    std::string prefix;

    ~TraceSink() { Close(); }
    void Close() {
        if (file && ownsFile) std::fclose(file);
        file = nullptr;
        ownsFile = false;
    }
};

TraceSink& Sink() {
    static TraceSink sink;
    return sink;
}

long ThreadNumber() { return static_cast<long>(syscall(SYS_gettid)); }

}  // namespace

TraceFile& TraceFile::GetInstance() {
    static TraceFile instance;
    return instance;
}

void TraceFile::Init(const std::string& fileName, const std::string& prefix) {
    TraceSink& sink = Sink();
    std::lock_guard<std::mutex> lock(sink.lock);
    sink.Close();
    sink.prefix = prefix;
    if (fileName == "-") {
        sink.file = stderr;
    } else if (!fileName.empty()) {
        sink.file = std::fopen(fileName.c_str(), "a");
        sink.ownsFile = sink.file != nullptr;
        if (!sink.file) std::fprintf(stderr, "Can't open trace file %s\n", fileName.c_str());
    }
}

void TraceFile::Start(int level) {
    bool haveSink;
    {
        TraceSink& sink = Sink();
        std::lock_guard<std::mutex> lock(sink.lock);
        haveSink = sink.file != nullptr;
    }
    m_level.store(level, std::memory_order_relaxed);
    m_active.store(haveSink && level > 0, std::memory_order_release);
}

void TraceFile::Stop() { m_active.store(false, std::memory_order_release); }

void TraceFile::Trace(int level, const char* function, const char* file, int line, const std::string& message) {
    if (!IsActive() || GetLevel() < level) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    TraceSink& sink = Sink();
    std::lock_guard<std::mutex> lock(sink.lock);
    if (!sink.file) return;
    std::fprintf(sink.file, "%s%.6f L%d T%ld %s:%d %s: %s\n", sink.prefix.c_str(), seconds, level, ThreadNumber(),
                 file ? file : "", line, function ? function : "", message.c_str());
    std::fflush(sink.file);
}

TraceFnc::TraceFnc(const char* signature, const char* file, int line)
    : m_signature(signature), m_file(file), m_line(line), m_entered(false) {
    TraceFile& trace = TraceFile::GetInstance();
    if (trace.IsActive() && trace.GetLevel() >= eTraceAll) {
        m_entered = true;
        trace.Trace(eTraceAll, m_signature, m_file, m_line, "> enter");
    }
}

TraceFnc::~TraceFnc() {
    if (m_entered) TraceFile::GetInstance().Trace(eTraceAll, m_signature, m_file, m_line, "< exit");
}

}  // namespace istd
