#pragma once
// Trace statements of the signal code: the text is built only when the
// level is active, and every record names the function it comes from.
//
// Records name their source as the library's own tree does,
// core/shared/isig/<file name without extension>, never by the path the
// code was built from (which would put the build machine's directories into
// every user's trace file).
#include <cstddef>
#include <sstream>
#include <string>

#include "istd/trace.h"

namespace isig::detail {

inline bool TraceActive(int level) {
    const istd::TraceFile& trace = istd::TraceFile::GetInstance();
    return trace.IsActive() && trace.GetLevel() >= level;
}

inline constexpr char c_traceSourceDir[] = "core/shared/isig/";

template <std::size_t N>
struct TraceSource {
    char text[sizeof c_traceSourceDir + N] = {};
};

// "core/shared/isig/stream" for ".../isig/stream.h".
template <std::size_t N>
constexpr TraceSource<N> TraceSourceOf(const char (&file)[N]) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i + 1 < N; ++i)
        if (file[i] == '/') begin = i + 1;
    std::size_t end = N - 1;
    for (std::size_t i = begin; i + 1 < N; ++i) {
        if (file[i] == '.') {
            end = i;
            break;
        }
    }
    TraceSource<N> source{};
    std::size_t out = 0;
    for (std::size_t i = 0; i + 1 < sizeof c_traceSourceDir; ++i) source.text[out++] = c_traceSourceDir[i];
    for (std::size_t i = begin; i < end; ++i) source.text[out++] = file[i];
    return source;
}

}  // namespace isig::detail

// The source file text of the code where it is written (static storage).
#define ISIG_TRACE_SOURCE                                                                           \
    ([]() -> const char* {                                                                          \
        static constexpr auto isigTraceSource_ = ::isig::detail::TraceSourceOf(__FILE__);           \
        return isigTraceSource_.text;                                                               \
    }())

#define ISIG_TRACE(level, text)                                                                     \
    do {                                                                                            \
        if (isig::detail::TraceActive(level)) {                                                     \
            std::ostringstream isigTraceText_;                                                      \
            isigTraceText_ << text;                                                                 \
            istd::TraceFile::GetInstance().Trace(level, __PRETTY_FUNCTION__, ISIG_TRACE_SOURCE,     \
                                                 __LINE__, isigTraceText_.str());                   \
        }                                                                                           \
    } while (false)

#define ISIG_TRACE_FNC() istd::TraceFnc isigTraceFnc_(__PRETTY_FUNCTION__, ISIG_TRACE_SOURCE, __LINE__)
