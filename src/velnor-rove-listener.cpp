#include "velnor-rove-listener.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <sstream>
#include <utility>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/trace_statement.h"
#include "rove_json.h"
#include "rove_node_value.h"
#include "rove_params.h"
#include "velnor-rove-signal-handler.h"

namespace {

constexpr const char* c_listenerTraceFile = "velnor-rove-listener";

// "[first]" or "[first:last]" unless the value covers the whole array.
void WriteRange(std::ostream& os, const mci::NotificationData& data, std::uint32_t elements) {
    if (elements == data.node.GetSize() && data.first == 0) return;
    os << "[" << data.first;
    if (elements > 1) os << ":" << static_cast<std::uint32_t>(data.first + elements - 1u);
    os << "]";
}

}  // namespace

std::atomic<VelnorRoveListener*> VelnorRoveListener::s_instance{nullptr};

std::string NotificationLine(const mci::NotificationData& data, const std::ios& format) {
    std::ostringstream line;
    line.flags(format.flags());
    line.precision(format.precision());
    line << data.node.GetFullPath(false);
    const istd::Any value = data.value;
    if (value.IsArray()) WriteRange(line, data, static_cast<std::uint32_t>(value.Size()));
    line << "=" << value;
    return line.str();
}

std::string LossReport(const mci::LostNotifications& lost) {
    std::vector<std::string> paths;
    for (const auto& path : lost.paths) {
        const std::string dotted = mci::ToString(path);
        if (std::find(paths.begin(), paths.end(), dotted) == paths.end()) paths.push_back(dotted);
    }
    return "Notifications of " + istd::StringVecIntoString(paths, ", ") +
           " were lost (the listener fell behind); " + std::to_string(lost.missed) + " missed.";
}

std::string NotificationValueText(const istd::Any& value, const std::ios& format) {
    std::ostringstream text;
    text.flags(format.flags());
    text.precision(format.precision());
    text << value;
    return text.str();
}

std::string ArrivalTime() {
    const auto now = std::chrono::system_clock::now();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06lldZ", static_cast<long long>(micros % 1000000));
    return text;
}

namespace {

rove_json::Json RangeJson(const mci::NotificationData& data) {
    const istd::Any& value = data.value;
    if (!value.IsArray()) return nullptr;
    const auto elements = static_cast<std::uint32_t>(value.Size());
    if (elements == data.node.GetSize() && data.first == 0) return nullptr;
    return rove_json::Json::array({data.first, static_cast<std::uint32_t>(data.first + elements - 1u)});
}

std::string NotificationRecord(const mci::NotificationData& data, const std::string& time) {
    rove_json::Json record;
    record["time"] = time;
    record["path"] = rove_json::PathOf(data.node);
    record["range"] = RangeJson(data);
    record["value"] = rove_json::ValueJson(data.value);
    return rove_json::Line(record);
}

}  // namespace

VelnorRoveListener* VelnorRoveListener::Existing() { return s_instance.load(); }

VelnorRoveListener* VelnorRoveListener::Instance() {
    // A function-local static: constructed once under concurrent first calls,
    // constructed again by the next call when the constructor threw, and
    // destroyed at exit.
    static VelnorRoveListener listener;
    return &listener;
}

void VelnorRoveListener::ReleaseInstanceSubscriptions() {
    if (VelnorRoveListener* listener = s_instance.load()) listener->ReleaseSubscriptions();
}

VelnorRoveListener::VelnorRoveListener()
    : m_callback{mci::CallbackId(),
                 [this](const mci::NotificationData& data) { CallbackSimpleNotification(data); },
                 [this](const mci::LostNotifications& lost) { CallbackLostNotifications(lost); }} {
    m_notificationClient.emplace(m_callback);
    ISTD_TRACE_FNC("VelnorRoveListener::VelnorRoveListener()", c_listenerTraceFile);
    s_instance.store(this);
}

VelnorRoveListener::~VelnorRoveListener() {
    ISTD_TRACE_FNC("VelnorRoveListener::~VelnorRoveListener()", c_listenerTraceFile);
    s_instance.store(nullptr);
}

void VelnorRoveListener::Register(mci::Node& node) {
    ISTD_TRACE_FNC("void VelnorRoveListener::Register(mci::Node&)", c_listenerTraceFile);
    if (!m_notificationClient) throw istd::Exception("The notification listener was released", true);
    if (!g_params.json) WriteLine("\t" + node.GetName());
    m_notificationClient->Register(node);
    m_registered.push_back(node);
}

void VelnorRoveListener::CallbackSimpleNotification(const mci::NotificationData& data) {
    ISTD_TRACE_FNC("void VelnorRoveListener::CallbackSimpleNotification(const mci::NotificationData&)",
                   c_listenerTraceFile);
    // Runs on a library thread: nothing may escape into the library.
    try {
        WriteNotification(data, false);
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(m_outputLock);
        std::cerr << "Error: " << e.what() << std::endl;
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_outputLock);
        std::cerr << "Error: Unknown exception." << std::endl;
    }
}

void VelnorRoveListener::CallbackLostNotifications(const mci::LostNotifications& lost) {
    const std::string report = LossReport(lost);
    std::lock_guard<std::mutex> lock(m_outputLock);
    m_lossReport = report;
}

std::string VelnorRoveListener::TakeLossReport() {
    std::lock_guard<std::mutex> lock(m_outputLock);
    return std::exchange(m_lossReport, std::string());
}

void VelnorRoveListener::PrintInitialValues() {
    // A node without a value has no state to show (and never notifies).
    for (const auto& node : m_registered)
        if (node.GetValueType() != mci::enums::eNoValue)
            WriteNotification(mci::NotificationData{node, ReadNodeValue(node), 0}, true);
}

bool VelnorRoveListener::EndReached() const { return m_endReached.load(); }

void VelnorRoveListener::WriteNotification(const mci::NotificationData& data, bool initial) {
    const std::string time = ArrivalTime();
    std::string line;
    if (g_params.json)
        line = NotificationRecord(data, time);
    else
        line = (g_params.listenTime ? time + " " : std::string()) + NotificationLine(data, std::cout);
    const bool untilMet = g_params.hasUntil && NotificationValueText(data.value, std::cout) == g_params.until;
    std::lock_guard<std::mutex> lock(m_outputLock);
    // After the line that ended the listening nothing more is printed.
    if (m_endReached.load()) return;
    std::cout << line << std::endl;
    if (!std::cout.good()) sigHandler.EndWaits();
    if (!initial) ++m_notificationLines;
    const bool countMet = g_params.count != 0 && m_notificationLines >= g_params.count;
    if (untilMet || countMet) {
        m_endReached.store(true);
        sigHandler.EndWaits();
    }
}

void VelnorRoveListener::ReleaseSubscriptions() {
    // Destroying the client unsubscribes at the server and waits for a
    // delivery in progress; the output lock is not held here, so that
    // delivery can finish its line.
    m_notificationClient.reset();
}

void VelnorRoveListener::WriteLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_outputLock);
    std::cout << line << std::endl;
    // Nothing can be printed any more (the reader of a pipe has gone, the
    // disk is full): the listening wait ends now, and the command frame
    // reports the failure.
    if (!std::cout.good()) sigHandler.EndWaits();
}
