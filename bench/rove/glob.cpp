// Expansion time of --glob patterns over a large tree: bench/rove/glob.sh
// starts the registry on a tree of 10,000 nodes and runs this against it.
// Usage: bench_glob PORT [ROUNDS]; prints "pattern matches median-ms".
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "mci/mci.h"
#include "rove_glob.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_glob PORT [ROUNDS]" << std::endl;
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    mci::Init(argc, argv);
    mci::ExposeHiddenRegistry();
    const mci::Node root = mci::Connect("", mci::eApplicationRoot, port, false);
    if (!root.IsValid()) {
        std::cerr << "bench_glob: no registry on port " << port << std::endl;
        return 1;
    }
    for (const std::string pattern : {"**.n42", "boards.*.n4?", "boards.b1?.*", "**"}) {
        std::vector<double> ms;
        std::size_t matches = 0;
        for (int r = 0; r < rounds; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            matches = ExpandPattern(root, pattern).size();
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        std::sort(ms.begin(), ms.end());
        std::cout << pattern << " " << matches << " " << ms[ms.size() / 2] << std::endl;
    }
    mci::Shutdown();
    return 0;
}
