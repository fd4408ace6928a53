// signal: atom-type dispatch and the data-on-demand and stream readers.
#include "rove_signal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <system_error>

#include "isig/dod_remote_client.h"
#include "isig/failure.h"
#include "isig/remote.h"
#include "isig/stream_client.h"
#include "istd/log.h"
#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_params.h"
#include "rove_signal_output.h"
#include "signal_views/views.h"
#include "velnor-rove-signal-handler.h"

namespace {

// With --json the -v and --stat lines are records on standard error.
void WriteMeta(const isig::SignalMeta& meta) {
    if (!g_params.json) {
        std::cerr << isig::ToString(meta) << std::endl;
        return;
    }
    rove_json::Json values = rove_json::Json::object();
    for (const auto& [id, value] : meta) values[isig::ToString(id)] = value;
    rove_json::WriteDiagnostic(rove_json::Json{{"meta", values}});
}

void WriteAtomTotal(std::uint32_t atoms) {
    if (g_params.json)
        rove_json::WriteDiagnostic(rove_json::Json{{"atoms", atoms}});
    else
        std::cerr << "Total number of atoms: " << atoms << std::endl;
}

void WriteStatisticsRecords(const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                            std::uint64_t micros) {
    for (const auto& row : signal_output::StatisticsRows(first, last, micros))
        rove_json::WriteDiagnostic(rove_json::Json{{"seconds", row.seconds},
                                                   {"name", row.name},
                                                   {"total", row.total},
                                                   {"rejected", row.rejected},
                                                   {"atoms_per_s", row.atomsPerSecond},
                                                   {"bytes_per_s", row.bytesPerSecond}});
}

std::atomic<unsigned> g_signalFailures{0};

// The largest block a data-on-demand read can hold.
constexpr std::uint64_t c_maxDodAtoms = std::numeric_limits<std::uint32_t>::max();
// Stream client queue capacity when --queue-size is not given.
constexpr std::uint32_t c_defaultQueueAtomGroups = 256;

// The path of the signal node being read, as --json records give it.
std::string g_signalPath;

// With --json the lines on standard error are records: {"path","error"}.
void WriteErrorRecord(const std::string& text) {
    std::cout.flush();
    rove_json::WriteDiagnostic(rove_json::Json{{"path", g_signalPath}, {"error", rove_json::ErrorText(text)}});
}

// A failure that does not end the command: logged as critical, also shown
// on standard error (the log is off unless enabled), and remembered for the
// exit status.
void ReportCritical(const std::string& text) {
    ++g_signalFailures;
    std::cout.flush();
    if (g_params.json)
        WriteErrorRecord(text);
    else if (!istd::Log::m_enabled)
        std::cerr << "CRITICAL: " << text << std::endl;
    istd::LogCritical(text);
}

// A line that the plain mode writes on standard output; with --json that
// output carries the signal data alone.
void ReportOnOutput(const std::string& text) {
    if (g_params.json)
        WriteErrorRecord(text);
    else
        std::cout << "Error: " << text << std::endl;
}

// Keeps a reader's client registered with the interrupt handler while it
// reads; withdraws it before the client is closed and destroyed.
class ClientRegistration {
public:
    explicit ClientRegistration(isig::SignalClientBase& client) : m_client(client) {
        sigHandler.RegisterClient(&client);
    }
    ~ClientRegistration() {
        sigHandler.WithdrawClient();
        m_client.Close();
    }
    ClientRegistration(const ClientRegistration&) = delete;
    ClientRegistration& operator=(const ClientRegistration&) = delete;

private:
    isig::SignalClientBase& m_client;
};

template <class... PARTS>
std::string Text(const PARTS&... parts) {
    std::ostringstream text;
    (text << ... << parts);
    return text.str();
}

// What ended a read that failed with eRemoteFailed, after the reader's own
// words: ": Registry at HOST:PORT did not answer in time" or "... is not
// reachable", or nothing when the cause says no more.
std::string CauseText(isig::SuccessCode_e code, isig::RemoteFailure_e failure) {
    if (code != isig::eRemoteFailed) return std::string();
    switch (failure) {
        case isig::RemoteFailure_e::eNoAnswer: return ": Registry at " + RegistryAddress() + " did not answer in time";
        case isig::RemoteFailure_e::eUnreachable: return ": Registry at " + RegistryAddress() + " is not reachable";
        default: return std::string();
    }
}

bool KeepLooping(std::int32_t pass) { return g_params.loop == -1 || pass < g_params.loop; }

// --timeout in seconds as the client's milliseconds, saturated.
std::uint64_t TimeoutMilliseconds(std::int64_t seconds) {
    const auto limit = std::numeric_limits<std::uint64_t>::max() / 1000;
    return static_cast<std::uint64_t>(seconds) >= limit ? std::numeric_limits<std::uint64_t>::max()
                                                       : static_cast<std::uint64_t>(seconds) * 1000;
}

template <class TRAITS>
void PrintBlock(const isig::Array<TRAITS>& array, std::uint32_t count, const isig::SignalMeta& meta) {
    if (signal_views::DeliverAtoms(array.Data(), count, meta)) return;
    if (g_params.format == eFormatStat) return;
    if (g_params.format == eFormatBinary)
        DumpSignalData(array.Data(), array.GetTraits().GetAtomSize(), count);
    else
        PrintSignalData(array, count);
}

isig::SignalStatistics Concat(isig::SignalStatistics first, const isig::SignalStatistics& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

template <class TRAITS>
void ReadDodPasses(isig::DodRemoteClient<TRAITS>& client, const isig::DataOnDemandRemoteSource<TRAITS>& source,
                   std::uint32_t size) {
    for (std::int32_t pass = 0; KeepLooping(pass); ++pass) {
        isig::Array<TRAITS> array(client.GetTraits(), size);
        isig::SignalMeta meta;
        const isig::SuccessCode_e code = client.Read(array, meta, g_params.lmt);
        if (code != isig::eSuccess)
            throw istd::Exception(
                Text("Can't read ", source.GetName(), " signal. Error: ", code, CauseText(code, client.LastFailure())),
                true);
        if (g_params.verbose) WriteMeta(meta);
        if (g_params.format != eFormatStat && g_params.header) PrintHeader(source.GetComponentNames());
        PrintBlock(array, array.GetAtomCount(), meta);
        if (g_params.verbose) WriteAtomTotal(array.GetAtomCount());
        signal_views::DeliverPassDone();
    }
}

// The element type as the compiler spells it in a function's signature.
template <class T>
const char* SignatureTypeName();
template <> const char* SignatureTypeName<double>() { return "double"; }
template <> const char* SignatureTypeName<float>() { return "float"; }
template <> const char* SignatureTypeName<unsigned long long>() { return "long long unsigned int"; }
template <> const char* SignatureTypeName<long long>() { return "long long int"; }
template <> const char* SignatureTypeName<unsigned int>() { return "unsigned int"; }
template <> const char* SignatureTypeName<int>() { return "int"; }
template <> const char* SignatureTypeName<unsigned short>() { return "short unsigned int"; }
template <> const char* SignatureTypeName<short>() { return "short int"; }
template <> const char* SignatureTypeName<unsigned char>() { return "unsigned char"; }
template <> const char* SignatureTypeName<signed char>() { return "signed char"; }

// A reader's signature text with its template argument, as in
// "void PrintRemoteDod(isig::SignalSourceSharedPtr&) [with TRAITS =
// isig::SignalTraits<double, isig::RuntimeDefined, 1u>]".
template <class TRAITS>
std::string WithTraits(const char* signature) {
    return std::string(signature) + " [with TRAITS = isig::SignalTraits<" +
           SignatureTypeName<typename TRAITS::Element_t>() + ", isig::RuntimeDefined, 1u>]";
}

// One text per atom type, kept for the process: a trace scope holds it.
template <class TRAITS>
const char* PrintRemoteDodSignature() {
    static const std::string signature = WithTraits<TRAITS>("void PrintRemoteDod(isig::SignalSourceSharedPtr&)");
    return signature.c_str();
}

template <class TRAITS>
const char* PrintRemoteStreamSignature() {
    static const std::string signature = WithTraits<TRAITS>("void PrintRemoteStream(isig::SignalSourceSharedPtr&)");
    return signature.c_str();
}

// One pass of PrintRemoteStream; its trace is PrintRemoteStream's.
template <class TRAITS>
void ReadStreamPass(isig::StreamClient<TRAITS>& client, const isig::RemoteStream<TRAITS>& stream) {
    std::uint64_t remaining = g_params.size;
    for (;;) {
        typename isig::StreamClient<TRAITS>::PairPtr block;
        const isig::SuccessCode_e code = client.Pop(block);
        if (code != isig::eSuccess)
            throw istd::Exception(Text("Interrupted read from ", stream.GetName(), " signal. Error: ", code,
                                       CauseText(code, stream.LastFailure())),
                                  true);
        const isig::Array<TRAITS>& array = block->GetArray();
        const std::uint32_t atoms = array.GetAtomCount();
        ISTD_TRACE(2, PrintRemoteStreamSignature<TRAITS>(), c_traceFile, "remaining: " << remaining);
        PrintBlock(array, static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, atoms)), block->GetMeta());
        if (atoms >= remaining) return;  // atoms beyond the pass are dropped
        remaining -= atoms;
    }
}

template <class TRAITS>
void PrintStreamStatistics(const isig::SignalStatistics& first, const isig::SignalStatistics& last,
                           std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    std::cout.flush();
    const auto elapsedMicros = static_cast<std::uint64_t>(std::max<std::int64_t>(micros, 1));
    if (g_params.json)
        WriteStatisticsRecords(first, last, elapsedMicros);
    else
        signal_output::WriteStatistics(std::cerr, first, last, elapsedMicros);
}

void DispatchOnType(isig::SignalSourceSharedPtr& source, std::int32_t type) {
    switch (type) {
        case isig::eAtomInvalid: ReportOnOutput("Unknown signal type!"); return;
        case isig::eAtomDouble: PrintRemoteSignal<RoveTraits<double>>(source); return;
        case isig::eAtomFloat: PrintRemoteSignal<RoveTraits<float>>(source); return;
        case isig::eAtomUInt64: PrintRemoteSignal<RoveTraits<unsigned long long>>(source); return;
        case isig::eAtomInt64: PrintRemoteSignal<RoveTraits<long long>>(source); return;
        case isig::eAtomUInt32: PrintRemoteSignal<RoveTraits<unsigned int>>(source); return;
        case isig::eAtomInt32: PrintRemoteSignal<RoveTraits<int>>(source); return;
        case isig::eAtomUInt16: PrintRemoteSignal<RoveTraits<unsigned short>>(source); return;
        case isig::eAtomInt16: PrintRemoteSignal<RoveTraits<short>>(source); return;
        case isig::eAtomUInt8: PrintRemoteSignal<RoveTraits<unsigned char>>(source); return;
        case isig::eAtomInt8: PrintRemoteSignal<RoveTraits<signed char>>(source); return;
        default: return;  // 0 and unknown codes: nothing to read
    }
}

void ReportForeignFailure() {
    const isig::FailureReport report = isig::DescribeCurrentFailure();
    switch (report.kind) {
        case isig::FailureKind::eCorbaSystem: ReportCritical("CORBA System Exception: " + report.text); return;
        case isig::FailureKind::eCorba: ReportCritical("CORBA Exception: " + report.text); return;
        case isig::FailureKind::eOrbFatal: ReportCritical("OmniORB fatal Exception: " + report.text); return;
        case isig::FailureKind::eOther: ReportCritical("Unknown exception"); return;
    }
}

}  // namespace

unsigned SignalFailures() { return g_signalFailures.load(); }

template <class TRAITS>
void PrintRemoteDod(isig::SignalSourceSharedPtr& source) {
    ISTD_TRACE_FNC(PrintRemoteDodSignature<TRAITS>(), c_traceFile);
    const auto dod = std::dynamic_pointer_cast<isig::DataOnDemandRemoteSource<TRAITS>>(source);
    if (!dod) throw istd::Exception("signal: Can't connect to DOD signal.", true);
    ISTD_TRACE(3, PrintRemoteDodSignature<TRAITS>(), c_traceFile,
               "Reading DOD: size " << g_params.size << " lmt: " << g_params.lmt << " offset: " << g_params.offset);
    // A block is counted in 32 bits: a larger size is refused, never cut.
    if (g_params.size > c_maxDodAtoms)
        throw istd::Exception(Text("signal: DOD size ", g_params.size, " is above the largest block of ",
                                   c_maxDodAtoms, " atoms."),
                              true);
    const auto size = static_cast<std::uint32_t>(g_params.size);
    auto client = std::make_unique<isig::DodRemoteClient<TRAITS>>(dod->GetSharedPtr(), "dod_client", dod->GetTraits());
    ClientRegistration registration(*client);
    if (g_params.timeout > 0) client->SetTimeout(TimeoutMilliseconds(g_params.timeout));
    const isig::SuccessCode_e code = client->Open(g_params.accessMode, size, g_params.offset);
    if (code != isig::eSuccess) throw istd::Exception(Text("signal: Can't open DOD. Error: ", code), true);
    ReadDodPasses(*client, *dod, size);
}

template <class TRAITS>
void PrintRemoteStream(isig::SignalSourceSharedPtr& source) {
    ISTD_TRACE_FNC(PrintRemoteStreamSignature<TRAITS>(), c_traceFile);
    const auto stream = std::dynamic_pointer_cast<isig::RemoteStream<TRAITS>>(source);
    if (!stream) throw istd::Exception("signal: Can't connect to stream.", true);
    const std::uint32_t capacity = g_params.queueSize != 0 ? g_params.queueSize : c_defaultQueueAtomGroups;
    ISTD_TRACE(2, PrintRemoteStreamSignature<TRAITS>(), c_traceFile,
               "read size: " << g_params.size << ", client queue capacity: " << capacity);
    isig::StreamClient<TRAITS> client(stream, "velnor-rove", capacity);
    ClientRegistration registration(client);
    if (g_params.timeout > 0) client.SetTimeout(TimeoutMilliseconds(g_params.timeout));
    if (g_params.header) PrintHeader(stream->GetComponentNames());
    const isig::SuccessCode_e code = client.Open();
    if (code != isig::eSuccess)
        throw istd::Exception(Text("Can't open ", stream->GetName(), " stream. Error: ", code), true);
    const auto start = std::chrono::steady_clock::now();
    const isig::SignalStatistics first = Concat(stream->GetStatistics(), client.GetStatistics());
    for (std::int32_t pass = 0; KeepLooping(pass); ++pass) {
        ReadStreamPass(client, *stream);
        signal_views::DeliverPassDone();
    }
    const isig::SignalStatistics last = Concat(stream->GetStatistics(), client.GetStatistics());
    client.Close();
    if (g_params.verbose) PrintStreamStatistics<TRAITS>(first, last, start);
}

template <class TRAITS>
void PrintRemoteSignal(isig::SignalSourceSharedPtr& source) {
    try {
        const std::int32_t access = source->SignalAccessType();
        if (access == isig::eAccessStream)
            PrintRemoteStream<TRAITS>(source);
        else if (access == isig::eAccessDod)
            PrintRemoteDod<TRAITS>(source);
        else
            throw istd::Exception(Text("signal: Unknown signal access type: ", access), true);
    } catch (const istd::Exception& e) {
        throw istd::Exception(std::string("Error: ") + e.what(), true);
    } catch (const std::system_error& e) {
        ++g_signalFailures;
        ReportOnOutput(e.code().message());
    } catch (const std::exception& e) {
        ReportCritical(std::string("Error: ") + e.what());
    } catch (...) {
        ReportForeignFailure();
    }
}

void Signal(const mci::Node& node) {
    ISTD_TRACE_FNC("void Signal(const mci::Node&)", c_traceFile);
    isig::SignalSourceSharedPtr source = mci::CreateRemoteSignal(node);
    if (!source) throw istd::Exception(Text("signal: not a signal node: ", node.GetFullPath(false)), true);
    g_signalPath = rove_json::PathOf(node);
    if (g_params.verbose && g_params.json)
        rove_json::WriteDiagnostic(rove_json::Json{{"path", rove_json::PathOf(node)}, {"signal", true}});
    else if (g_params.verbose)
        std::cerr << "Signal data from node: " << node.GetFullPath(false) << std::endl;
    signal_views::ViewScope views(rove_json::PathOf(node), *source);
    DispatchOnType(source, source->BaseEnumType());
    views.Finish();
}
