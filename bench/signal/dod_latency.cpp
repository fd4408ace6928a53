// Median latency of a data-on-demand Now read of 1000 atoms, in process:
// the tool's client over the signal library against a real server.
//   bench_dod_latency PORT NODE [READS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "isig/dod_remote_client.h"
#include "mci/mci.h"

using Traits = isig::SignalTraits<double, isig::RuntimeDefined, 1>;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int reads = argc > 3 ? std::atoi(argv[3]) : 500;
    mci::Init(argc, argv);
    {
        const mci::Node root = mci::Connect("127.0.0.1", mci::eApplicationRoot, std::atoi(argv[1]), false);
        auto source = mci::CreateRemoteSignal(root.GetNode(mci::Tokenize(argv[2])));
        auto dod = std::dynamic_pointer_cast<isig::DataOnDemandRemoteSource<Traits>>(source);
        if (!dod) return 1;
        isig::DodRemoteClient<Traits> client(dod->GetSharedPtr(), "bench", dod->GetTraits());
        if (client.Open(isig::eNow, 1000, 0) != isig::eSuccess) return 1;
        std::vector<double> micros;
        for (int i = 0; i < reads; ++i) {
            isig::Array<Traits> array(client.GetTraits(), 1000);
            isig::SignalMeta meta;
            const auto start = std::chrono::steady_clock::now();
            if (client.Read(array, meta, 0) != isig::eSuccess) return 1;
            micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        client.Close();
        std::sort(micros.begin(), micros.end());
        std::printf("%.1f\n", micros[micros.size() / 2]);
    }
    mci::Shutdown();
    return 0;
}
