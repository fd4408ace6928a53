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

const char* const c_interruptText = "Caught signal during the benchmark";

// A caught signal (Ctrl-C) ends the benchmark before its next call.
void CheckInterrupt() {
    if (sigHandler.Signal() != 0) throw istd::Exception(c_interruptText, true);
}

// One call of the loops. A call the registry refuses (a node that is not
// writable, a value it does not take) is timed like any other; a registry
// that does not answer or cannot be reached ends the run with its error.
template <class CALL>
void TimedCall(CALL&& call) {
    CheckInterrupt();
    try {
        call();
    } catch (const mci::ConnectionFailure&) {
        throw;
    } catch (const istd::Exception&) {
    }
}

}  // namespace

void Benchmark(mci::Node& node) {
    ISTD_TRACE_FNC("void Benchmark(mci::Node&)", c_traceFile);
    const int c_reads = 20000;
    const int c_writes = 20000;
    const int c_dumps = 200;  // the label "DumpSubTree * 200" names it too

    StartSignalThread();  // a signal ends the benchmark at its next call
    // ... or at once, when it comes while a call waits for the registry.
    sigHandler.EndRunOnSignalDuringCalls(c_interruptText);
    mci::Node subject = node["app-name"];
    std::string text;
    istd::StopWatch watch;
    watch.Start();
    for (int i = 0; i < c_reads; ++i) TimedCall([&] { subject.Get(text, 0); });
    watch.Stop();
    double seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "GetValue(std::string)/s: " << c_reads / seconds << std::endl;

    subject = node["tracing"]["level"];
    watch.Start();
    const std::vector<int> zero{0};
    for (int i = 0; i < c_writes; ++i) TimedCall([&] { subject.Set(zero, 0); });
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "SetValue(int32_t)/s: " << c_writes / seconds << std::endl;

    watch.Start();
    for (int i = 0; i < c_dumps; ++i)
        TimedCall([&] {
            node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags), g_params.maxLength);
        });
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "DumpSubTree * 200: " << seconds << std::endl;
}
