#include "rove_output.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace rove_output {
namespace {

std::atomic<int> g_firstFailure{0};
std::atomic<bool> g_failureReported{false};

// No buffer of its own: every character goes to stdout's FILE in order with
// what other code writes there, and a failing putc, fwrite or fflush keeps
// its errno before anything else can change it.
class ErrnoKeepingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (std::putc(traits_type::to_char_type(c), stdout) == EOF) {
            NoteFailure(errno);
            return traits_type::eof();
        }
        return c;
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const std::size_t written = std::fwrite(text, 1, static_cast<std::size_t>(count), stdout);
        if (written != static_cast<std::size_t>(count)) NoteFailure(errno);
        return static_cast<std::streamsize>(written);
    }

    int sync() override {
        if (std::fflush(stdout) == 0) return 0;
        NoteFailure(errno);
        return -1;
    }
};

}  // namespace

void Install() {
    // Never destroyed: std::cout is flushed once more after static
    // destruction.
    static ErrnoKeepingBuffer* const buffer = new ErrnoKeepingBuffer;
    std::cout.rdbuf(buffer);
}

int FirstFailure() { return g_firstFailure.load(); }

void NoteFailure(int error) {
    int none = 0;
    g_firstFailure.compare_exchange_strong(none, error != 0 ? error : EIO);
}

bool Good() {
    std::cout.flush();
    if (std::fflush(stdout) != 0) NoteFailure(errno);
    if (!std::cout.good() || std::ferror(stdout)) NoteFailure(EIO);  // a failure no errno told of
    return FirstFailure() == 0;
}

void NoteFailureReported() { g_failureReported.store(true); }

bool FailureReported() { return g_failureReported.load(); }

std::string FailureText() { return std::string("Can't write to standard output: ") + std::strerror(FirstFailure()); }

}  // namespace rove_output
