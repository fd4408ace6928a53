#include "velnor-rove-listener.h"

#include <iostream>
#include <sstream>

#include "istd/exception.h"
#include "istd/trace_statement.h"
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
                 [this](const mci::NotificationData& data) { CallbackSimpleNotification(data); }} {
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
    WriteLine("\t" + node.GetName());
    m_notificationClient->Register(node);
}

void VelnorRoveListener::CallbackSimpleNotification(const mci::NotificationData& data) {
    ISTD_TRACE_FNC("void VelnorRoveListener::CallbackSimpleNotification(const mci::NotificationData&)",
                   c_listenerTraceFile);
    // Runs on a library thread: nothing may escape into the library.
    try {
        WriteLine(NotificationLine(data, std::cout));
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(m_outputLock);
        std::cerr << "Error: " << e.what() << std::endl;
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_outputLock);
        std::cerr << "Error: Unknown exception." << std::endl;
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
