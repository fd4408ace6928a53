// bench: rates of registry reads and writes, and the time of subtree
// renderings.
#include <iostream>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "istd/time.h"
#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"
#include "velnor-rove-signal-handler.h"

namespace {

// A caught signal (Ctrl-C) ends the benchmark before its next call.
void CheckInterrupt() {
    if (sigHandler.Signal() != 0) throw istd::Exception("Caught signal during the benchmark", true);
}

}  // namespace

// A call that fails ends the run with its error (a registry that stops
// answering: "did not answer in time"), instead of being timed like one
// that succeeded.
void Benchmark(mci::Node& node) {
    ISTD_TRACE_FNC("void Benchmark(mci::Node&)", c_traceFile);
    const int c_reads = 20000;
    const int c_writes = 20000;
    const int c_dumps = 200;  // the label "DumpSubTree * 200" names it too

    StartSignalThread();  // a signal ends the benchmark at its next call
    mci::Node subject = node["app-name"];
    std::string text;
    istd::StopWatch watch;
    watch.Start();
    for (int i = 0; i < c_reads; ++i) {
        CheckInterrupt();
        subject.Get(text, 0);
    }
    watch.Stop();
    double seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "GetValue(std::string)/s: " << c_reads / seconds << std::endl;

    subject = node["tracing"]["level"];
    watch.Start();
    const std::vector<int> zero{0};
    for (int i = 0; i < c_writes; ++i) {
        CheckInterrupt();
        subject.Set(zero, 0);
    }
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "SetValue(int32_t)/s: " << c_writes / seconds << std::endl;

    watch.Start();
    for (int i = 0; i < c_dumps; ++i) {
        CheckInterrupt();
        node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags), g_params.maxLength);
    }
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "DumpSubTree * 200: " << seconds << std::endl;
}
