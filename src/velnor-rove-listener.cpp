#include "velnor-rove-listener.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <type_traits>
#include <variant>
#include <utility>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/trace_statement.h"
#include "rove_format.h"
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

// A line is one line, whatever the texts in it hold, and sends no control
// sequence to a terminal.
std::string NotificationLine(const mci::NotificationData& data, const std::ios& format) {
    std::ostringstream line;
    line.flags(format.flags());
    line.precision(format.precision());
    line << data.node.GetFullPath(false);
    const istd::Any value = data.value;
    if (value.IsArray()) WriteRange(line, data, static_cast<std::uint32_t>(value.Size()));
    line << "=" << value;
    return istd::OneLineText(line.str());
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
    return istd::OneLineText(text.str());
}

std::string ArrivalTime() { return UtcTimeText(std::chrono::system_clock::now()); }

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
    rove_json::SetValue(record, "value", data.value);
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

namespace {

// The node's value; nothing for a node without one (it never notifies) or
// one that cannot be read now (the registry went away again).
std::optional<istd::Any> CurrentValue(const mci::Node& node) {
    if (node.GetValueType() == mci::enums::eNoValue) return std::nullopt;
    try {
        return ReadNodeValue(node);
    } catch (const istd::Exception&) {
        return std::nullopt;
    }
}

}  // namespace

void VelnorRoveListener::RememberCurrentValues() {
    for (const auto& node : m_registered) {
        // A value not read now is unknown: printed after the next reconnection.
        std::optional<istd::Any> value = CurrentValue(node);
        if (!value) continue;
        std::lock_guard<std::mutex> lock(m_outputLock);
        // A line printed meanwhile knows better.
        m_lastValues.emplace(mci::ToString(node.GetRelPath()), std::move(*value));
    }
}

void VelnorRoveListener::PrintValuesChangedMeanwhile() {
    for (const auto& node : m_registered) {
        const std::optional<istd::Any> current = CurrentValue(node);
        if (!current) continue;  // the next reconnection tries again
        const istd::Any& value = *current;
        bool changed = true;
        {
            std::lock_guard<std::mutex> lock(m_outputLock);
            const auto last = m_lastValues.find(mci::ToString(node.GetRelPath()));
            changed = last == m_lastValues.end() || !(last->second == value);
        }
        // A value printed only because of --initial is not a change: it is
        // not counted.
        if (changed || g_params.initial) WriteNotification(mci::NotificationData{node, value, 0}, !changed);
    }
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
    if (g_params.pingPeriod != 0) RememberLocked(data);
    if (!initial) ++m_notificationLines;
    const bool countMet = g_params.count != 0 && m_notificationLines >= g_params.count;
    if (untilMet || countMet) {
        m_endReached.store(true);
        sigHandler.EndWaits();
    }
}

namespace {

// `whole` with `part` written into it from element `first` on; nothing
// when they hold elements of different types or the part does not fit.
std::optional<istd::Any> Merged(const istd::Any& whole, const istd::Any& part, std::uint32_t first) {
    return std::visit(
        [&](const auto& elements) -> std::optional<istd::Any> {
            using Elements = std::decay_t<decltype(elements)>;
            if constexpr (std::is_same_v<Elements, std::monostate>) {
                return std::nullopt;
            } else {
                const auto* written = part.As<typename Elements::value_type>();
                if (!written || first + written->size() > elements.size()) return std::nullopt;
                Elements merged = elements;
                std::copy(written->begin(), written->end(), merged.begin() + first);
                return istd::Any(std::move(merged), whole.IsArray());
            }
        },
        whole.Elements());
}

}  // namespace

void VelnorRoveListener::RememberLocked(const mci::NotificationData& data) {
    const std::string path = mci::ToString(data.node.GetRelPath());
    const bool whole = !data.value.IsArray() || (data.first == 0 && data.value.Size() == data.node.GetSize());
    if (whole) {
        m_lastValues[path] = data.value;
        return;
    }
    const auto known = m_lastValues.find(path);
    if (known == m_lastValues.end()) return;
    // Part of a value not known as a whole: the whole is unknown from now on.
    if (std::optional<istd::Any> merged = Merged(known->second, data.value, data.first))
        known->second = std::move(*merged);
    else
        m_lastValues.erase(known);
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
