#pragma once
// The printers of the signal command: atoms as text columns, csv or raw
// binary, the header line and the statistics lines.
//
// The printers format into a buffer of their own (digit pairs written
// backwards, std::to_chars where that is not exact) and write it with one
// fwrite per buffer and one flush per block: the bytes are those of the
// iostream formatting (decimal integers, fixed notation with 6 decimals,
// fields of 11 characters), but many times faster. 8-bit atoms are
// written as numbers, never as raw characters. A failed write ends the read
// with istd::Exception.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "isig/array.h"
#include "isig/signal_source.h"
#include "istd/exception.h"
#include "rove_params.h"
#include "rove_signal_format.h"

namespace signal_output {

// Text is collected here and written to `out` in large pieces.
class OutputBuffer {
public:
    static constexpr std::size_t c_capacity = 64 * 1024;

    explicit OutputBuffer(std::FILE* out) : m_out(out) {}
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Room for at least `bytes` more bytes at Cursor().
    void Reserve(std::size_t bytes) {
        if (m_used + bytes > c_capacity) Write();
    }
    char* Cursor() { return m_data + m_used; }
    void Advance(std::size_t bytes) { m_used += bytes; }
    void Append(const char* text, std::size_t length) {
        while (length > 0) {
            Reserve(std::min(length, c_capacity));
            const std::size_t part = std::min(length, c_capacity - m_used);
            std::memcpy(Cursor(), text, part);
            Advance(part);
            text += part;
            length -= part;
        }
    }
    void Append(char c) {
        Reserve(1);
        m_data[m_used++] = c;
    }
    // Writes what is collected and flushes the stream.
    void Flush() {
        Write();
        if (std::fflush(m_out) != 0) Fail();
    }

private:
    void Write() {
        if (m_used > 0 && std::fwrite(m_data, 1, m_used, m_out) != m_used) Fail();
        m_used = 0;
    }
    [[noreturn]] void Fail();

    std::FILE* m_out;
    std::size_t m_used = 0;
    char m_data[c_capacity];
};

// Throws istd::Exception "Can't write to standard output: " + the reason,
// after dropping what the stream still holds (it cannot be written either).
[[noreturn]] void ThrowWriteFailure(std::FILE* out, int error);

inline void OutputBuffer::Fail() { ThrowWriteFailure(m_out, errno); }

// The first `count` atoms of `array`, one line per atom, in text or csv
// format (csv for eFormatCsv, text otherwise), then one flush.
template <class T>
void WriteTextLines(OutputBuffer& out, const T* element, std::uint32_t count, std::uint32_t components) {
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t j = 0; j < components; ++j, ++element) {
            out.Reserve(format::c_elementRoom + 16);
            out.Advance(static_cast<std::size_t>(format::TextElement(out.Cursor(), *element) - out.Cursor()));
        }
        out.Append('\n');
    }
}

template <class T>
void WriteCsvLines(OutputBuffer& out, const T* element, std::uint32_t count, std::uint32_t components) {
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t j = 0; j < components; ++j, ++element) {
            out.Reserve(format::c_elementRoom + 1);
            char* end = format::CsvElement(out.Cursor(), *element);
            if (j + 1 < components) *end++ = ',';
            out.Advance(static_cast<std::size_t>(end - out.Cursor()));
        }
        out.Append('\n');
    }
}

template <class TRAITS>
void WriteSignalData(std::FILE* file, std::int32_t format, const isig::Array<TRAITS>& array, std::uint32_t count) {
    if (array.IsEmpty() || count == 0) return;
    const std::uint32_t components = array.GetTraits().GetComponents();
    if (count > array.GetAtomCount() || components == 0) throw istd::Exception("array: index out of range", true);
    OutputBuffer out(file);
    if (format == eFormatCsv)
        WriteCsvLines(out, array.Data(), count, components);
    else
        WriteTextLines(out, array.Data(), count, components);
    out.Flush();
}

void WriteHeader(std::FILE* file, std::int32_t format, const std::vector<std::string>& names);

// `count` atoms of `size` bytes in one fwrite, then a flush. Gives the
// atoms written (all of them, or it throws).
int WriteSignalBytes(std::FILE* file, const void* buffer, std::uint32_t size, std::uint32_t count);

// One statistics line: an item's counts between two snapshots.
struct StatisticsRow {
    double seconds = 0;
    std::string name;
    std::uint64_t total = 0;
    std::uint64_t rejected = 0;
    double atomsPerSecond = 0;
    double bytesPerSecond = 0;
};

// One row per item of `last` that `first` holds too (paired by name, so a
// snapshot that changed shape cannot pair unrelated counters).
std::vector<StatisticsRow> StatisticsRows(const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                                          std::uint64_t elapsedMicroseconds);

// The statistics lines: the title, then one line per item of `last` that
// `first` holds too (paired by name, so a snapshot that changed shape
// cannot pair unrelated counters). Fixed notation stays set on `os`.
void WriteStatistics(std::ostream& os, const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                     std::uint64_t elapsedMicroseconds);

}  // namespace signal_output

// The printers as the readers call them: on standard output, in the format
// of the command line.
std::int32_t SignalOutputFormat();

template <class TRAITS>
void PrintSignalData(const isig::Array<TRAITS>& array, const std::uint32_t& count) {
    signal_output::WriteSignalData(stdout, SignalOutputFormat(), array, count);
}

void PrintHeader(const std::vector<std::string>& names);
int DumpSignalData(const void* buffer, std::uint32_t size, std::uint32_t count);
