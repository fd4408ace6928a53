#include "connection.h"

#include <algorithm>

#include <omniORB4/minorCode.h>

#include "istd/exception.h"

namespace mci::detail {

Connection::Connection(CallTarget target, Root root, std::string reference, CORBA::ORB_ptr orb,
                       i_NET::Registry_ptr registry)
    : m_target(std::move(target)),
      m_root(root),
      m_address(m_target.host + ":" + std::to_string(m_target.port)),
      m_reference(std::move(reference)),
      m_orb(CORBA::ORB::_duplicate(orb)),
      m_registry(registry) {
    // The ORB keeps the deadline: a call that gets no answer in time ends
    // with CORBA::TIMEOUT, and its connection is closed.
    if (!CORBA::is_nil(m_registry))
        omniORB::setClientCallTimeout(m_registry, static_cast<CORBA::ULong>(ClientDeadlines().call.count()));
}

i_NET::Registry_var Connection::QuickRegistry() {
    // Made from the URI again: a timeout set on it must not reach the
    // ordinary calls through m_registry.
    std::shared_lock<std::shared_mutex> references(m_referenceLock);
    if (m_released) throw istd::Exception("The registry library was shut down", true);
    std::lock_guard<std::mutex> lock(m_quickMutex);
    if (CORBA::is_nil(m_quickRegistry)) {
        try {
            CORBA::Object_var object = m_orb->string_to_object(m_reference.c_str());
            m_quickRegistry = i_NET::Registry::_unchecked_narrow(object);
            omniORB::setClientCallTimeout(m_quickRegistry,
                                          static_cast<CORBA::ULong>(ClientDeadlines().quick.count()));
        } catch (const CORBA::Exception& e) {
            throw istd::Exception("Cannot make a reference to the registry at " + m_address + ": " + e._name(), true);
        }
    }
    return i_NET::Registry::_duplicate(m_quickRegistry);
}

void Connection::Release() {
    std::lock_guard<std::shared_mutex> lock(m_referenceLock);
    m_released = true;
    m_orb = CORBA::ORB::_nil();
    m_registry = i_NET::Registry::_nil();
    m_quickRegistry = i_NET::Registry::_nil();
}

std::string Connection::RegistryHost() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registryHost;
}

void Connection::SetRegistryHost(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registryHost = name;
}

bool Connection::HasRunId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hasRunId;
}

bool Connection::RecordRunId(std::uint64_t runId, std::uint64_t* previous) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool restarted = m_hasRunId && m_runId != runId;
    if (previous) *previous = m_runId;
    m_hasRunId = true;
    m_runId = runId;
    return restarted;
}

void Connection::ForgetRunId(std::uint64_t staleRunId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Keeps the old run recorded so that the next check sees the new one
    // as a restart again.
    m_hasRunId = true;
    m_runId = staleRunId;
}

void Connection::AddResubscriber(const std::shared_ptr<Resubscriber>& subscriber) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& known : m_resubscribers)
        if (known.lock() == subscriber) return;
    m_resubscribers.erase(std::remove_if(m_resubscribers.begin(), m_resubscribers.end(),
                                         [](const std::weak_ptr<Resubscriber>& w) { return w.expired(); }),
                          m_resubscribers.end());
    m_resubscribers.push_back(subscriber);
}

std::vector<std::shared_ptr<Resubscriber>> Connection::Resubscribers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<Resubscriber>> alive;
    for (const auto& weak : m_resubscribers)
        if (auto strong = weak.lock()) alive.push_back(std::move(strong));
    return alive;
}

void Connection::ThrowIfUnanswered() const {
    if (m_unanswered.load() && FailsFastAfterNoAnswer()) throw NoAnswer(NoAnswerText());
}

std::string Connection::NoAnswerText() const { return "Registry at " + m_address + " did not answer in time"; }

namespace {

bool IsTimeout(const CORBA::SystemException& e) {
    return e.minor() == omni::TRANSIENT_CallTimedout;
}

// The request may have reached the registry and been carried out.
bool MayHaveCompleted(const CORBA::SystemException& e) { return e.completed() != CORBA::COMPLETED_NO; }

std::string SystemText(const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    std::string text = std::string("CORBA::") + e._name();
    if (minor) text += std::string(" (") + minor + ")";
    return text;
}

}  // namespace

void RethrowTranslated(const Connection& connection) {
    const std::string registry = "Registry at " + connection.Address();
    try {
        throw;
    } catch (const istd::Exception&) {
        throw;
    } catch (const i_NET::NotFound& e) {
        throw istd::Exception("Node not found: " + std::string(e.path.in()), true);
    } catch (const i_NET::RegistryError& e) {
        throw istd::Exception(std::string(e.message.in()), true);
    } catch (const CORBA::TIMEOUT&) {
        connection.NoteUnanswered();
        throw NoAnswer(connection.NoAnswerText());
    } catch (const CORBA::TRANSIENT& e) {
        if (IsTimeout(e)) {
            connection.NoteUnanswered();
            throw NoAnswer(connection.NoAnswerText());
        }
        if (MayHaveCompleted(e)) throw NoAnswer(registry + " is not reachable");
        throw ConnectionFailure(registry + " is not reachable");
    } catch (const CORBA::COMM_FAILURE& e) {
        if (MayHaveCompleted(e)) throw NoAnswer(registry + " is not reachable");
        throw ConnectionFailure(registry + " is not reachable");
    } catch (const CORBA::OBJECT_NOT_EXIST&) {
        throw ConnectionFailure(registry + " does not serve the " +
                                (connection.GetRoot() == eApplicationRoot ? "application" : "platform") +
                                " registry");
    } catch (const CORBA::MARSHAL& e) {
        throw ConnectionFailure(registry + " sent or refused a malformed message: " + SystemText(e));
    } catch (const CORBA::SystemException& e) {
        throw ConnectionFailure(registry + " failed: " + SystemText(e));
    } catch (const CORBA::UserException& e) {
        throw istd::Exception(registry + " raised the unexpected " + std::string(e._name()), true);
    } catch (const CORBA::Exception& e) {
        throw istd::Exception(registry + " failed: " + std::string(e._name()), true);
    } catch (const std::bad_alloc&) {
        throw istd::Exception(registry + " sent more data than fits in memory", true);
    } catch (const std::exception& e) {
        throw istd::Exception(registry + " call failed: " + std::string(e.what()), true);
    } catch (...) {
        throw istd::Exception(registry + " call failed for an unknown reason", true);
    }
}

}  // namespace mci::detail
