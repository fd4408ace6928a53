// Baseline of the text output: the same bytes as velnor-rove's text format
// written with a plain printf loop to standard output. The double values
// (a sine, as the server's generator makes them) are computed before the
// clock starts: the loop measures printing only.
//   printf_baseline int16|double ATOMS COMPONENTS
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const bool isDouble = std::strcmp(argv[1], "double") == 0;
    const unsigned long long atoms = std::strtoull(argv[2], nullptr, 10);
    const unsigned components = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const unsigned c_period = 500;
    std::vector<double> sine(c_period);
    for (unsigned k = 0; k < c_period; ++k) sine[k] = std::sin(static_cast<double>(k));
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long long i = 0; i < atoms; ++i) {
        for (unsigned j = 0; j < components; ++j) {
            if (isDouble)
                std::printf("%11.6f  ", sine[i % c_period] + j);
            else
                std::printf("%11d  ", static_cast<int>(static_cast<short>(i * components + j)));
        }
        std::putchar('\n');
    }
    std::fflush(stdout);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%.0f\n", static_cast<double>(atoms * components) / seconds);
    return 0;
}
