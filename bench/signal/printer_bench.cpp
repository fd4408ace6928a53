// The text printer alone, beside a plain printf loop writing the same bytes,
// both to /dev/null in this one process: no process start, no stream
// delivery, only the formatting and the writes. perf.sh divides the
// items_per_second (elements) of each pair.
//   BM_Printer<short> / BM_Printf<short>    "%11d  "   counting int16 atoms
//   BM_Printer<double> / BM_Printf<double>  "%11.6f  " the sine generator's doubles
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "rove_signal.h"
#include "rove_signal_output.h"

namespace {

constexpr std::uint32_t c_components = 4;
constexpr std::uint32_t c_blockAtoms = 4096;

// The elements of one block of the bench signals (text16 / textd).
template <class T>
std::vector<T> BlockElements() {
    std::vector<T> elements(std::size_t{c_blockAtoms} * c_components);
    for (std::size_t k = 0; k < elements.size(); ++k) {
        if constexpr (std::is_floating_point_v<T>) {
            const std::size_t atom = k / c_components;
            const double j = static_cast<double>(k % c_components);
            elements[k] = std::sin(2 * M_PI * static_cast<double>(atom % 500) / 500 + j * M_PI / 2);
        } else {
            elements[k] = static_cast<T>(k);
        }
    }
    return elements;
}

class DevNull {
public:
    DevNull() : m_file(std::fopen("/dev/null", "w")) {}
    ~DevNull() {
        if (m_file) std::fclose(m_file);
    }
    DevNull(const DevNull&) = delete;
    DevNull& operator=(const DevNull&) = delete;
    std::FILE* get() const { return m_file; }

private:
    std::FILE* m_file;
};

template <class T>
void BM_Printer(benchmark::State& state) {
    std::vector<T> elements = BlockElements<T>();
    RoveTraits<T> traits(c_components, {});
    const isig::Array<RoveTraits<T>> array(traits, elements.data(), c_blockAtoms);
    DevNull out;
    for (auto _ : state) signal_output::WriteSignalData(out.get(), eFormatText, array, c_blockAtoms);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * elements.size());
}

template <class T>
void BM_Printf(benchmark::State& state) {
    const std::vector<T> elements = BlockElements<T>();
    DevNull out;
    for (auto _ : state) {
        const T* element = elements.data();
        for (std::uint32_t i = 0; i < c_blockAtoms; ++i) {
            for (std::uint32_t j = 0; j < c_components; ++j, ++element) {
                if constexpr (std::is_floating_point_v<T>)
                    std::fprintf(out.get(), "%11.6f  ", *element);
                else
                    std::fprintf(out.get(), "%11d  ", static_cast<int>(*element));
            }
            std::fputc('\n', out.get());
        }
        std::fflush(out.get());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * elements.size());
}

BENCHMARK_TEMPLATE(BM_Printer, short);
BENCHMARK_TEMPLATE(BM_Printf, short);
BENCHMARK_TEMPLATE(BM_Printer, double);
BENCHMARK_TEMPLATE(BM_Printf, double);

}  // namespace

BENCHMARK_MAIN();
