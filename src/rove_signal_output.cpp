// The printers' parts that need no signal library: header, raw bytes,
// statistics and the write failure.
#include <stdio_ext.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "rove_signal_output.h"

namespace signal_output {

void ThrowWriteFailure(std::FILE* out, int error) {
    // What is still buffered cannot be written either; dropped, so that the
    // failure is reported once.
    __fpurge(out);
    std::clearerr(out);
    throw istd::Exception(std::string("Can't write to standard output: ") + std::strerror(error), true);
}

void WriteHeader(std::FILE* file, std::int32_t format, const std::vector<std::string>& names) {
    OutputBuffer out(file);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (format == eFormatCsv) {
            out.Append(name.data(), name.size());
            if (i + 1 < names.size()) out.Append(',');
            continue;
        }
        for (std::size_t pad = name.size(); pad < 11; ++pad) out.Append(' ');
        out.Append(name.data(), name.size());
        out.Append("  ", 2);
    }
    out.Append('\n');
    out.Flush();
}

int WriteSignalBytes(std::FILE* file, const void* buffer, std::uint32_t size, std::uint32_t count) {
    if (size == 0 || count == 0) return 0;
    if (std::fwrite(buffer, size, count, file) != count || std::fflush(file) != 0) ThrowWriteFailure(file, errno);
    return static_cast<int>(count);
}

namespace {

const isig::SignalStatItem* FindItem(const isig::SignalStatistics& items, const std::string& name) {
    const auto it = std::find_if(items.begin(), items.end(), [&](const isig::SignalStatItem& item) {
        return item.name == name;
    });
    return it == items.end() ? nullptr : &*it;
}

}  // namespace

std::vector<StatisticsRow> StatisticsRows(const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                                          std::uint64_t elapsedMicroseconds) {
    const double seconds = static_cast<double>(elapsedMicroseconds) / 1000000.0;
    std::vector<StatisticsRow> rows;
    for (const isig::SignalStatItem& item : last) {
        const isig::SignalStatItem* start = FindItem(first, item.name);
        if (!start) continue;
        StatisticsRow row;
        row.seconds = seconds;
        row.name = item.name;
        row.total = item.total - start->total;
        row.rejected = item.rejected - start->rejected;
        const std::uint64_t bytes = row.total * std::uint64_t{start->atomSize};
        row.atomsPerSecond = static_cast<double>(row.total) / seconds;
        row.bytesPerSecond = static_cast<double>(bytes) / seconds;
        rows.push_back(row);
    }
    return rows;
}

void WriteStatistics(std::ostream& os, const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                     std::uint64_t elapsedMicroseconds) {
    os << std::fixed << "seconds, name, total, rejected, atoms/s, bytes/s" << std::endl;
    for (const StatisticsRow& row : StatisticsRows(first, last, elapsedMicroseconds))
        os << row.seconds << ", " << row.name << ", " << row.total << ", " << row.rejected << ", "
           << row.atomsPerSecond << ", " << row.bytesPerSecond << std::endl;
}

}  // namespace signal_output

std::int32_t SignalOutputFormat() { return g_params.format; }

void PrintHeader(const std::vector<std::string>& names) {
    signal_output::WriteHeader(stdout, g_params.format, names);
}

int DumpSignalData(const void* buffer, std::uint32_t size, std::uint32_t count) {
    return signal_output::WriteSignalBytes(stdout, buffer, size, count);
}
