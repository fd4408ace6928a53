#include "browse/acquisition.h"

#include <chrono>

#include "isig/dod_remote_client.h"
#include "isig/remote.h"
#include "isig/stream_client.h"
#include "istd/exception.h"
#include "rove_signal.h"

namespace browse {
namespace {

// The stream client's queue, in atom groups: a frame's worth of blocks.
constexpr std::uint32_t c_streamQueue = 64;
// Data on demand is read again this often (the frame rate of the pane).
constexpr std::chrono::milliseconds c_dodPeriod{50};

// Registers the client with the acquisition while it reads.
class Attachment {
public:
    Attachment(Acquisition& acquisition, isig::SignalClientBase& client) : m_acquisition(acquisition), m_client(client) {
        m_acquisition.Attach(&client);
    }
    ~Attachment() {
        m_acquisition.Detach();
        m_client.Close();
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    Acquisition& m_acquisition;
    isig::SignalClientBase& m_client;
};

std::string CodeText(isig::SuccessCode_e code) { return isig::ToString(code); }

template <class TRAITS>
void ReadStream(Acquisition& acquisition, isig::SignalSourceSharedPtr& source) {
    const auto stream = std::dynamic_pointer_cast<isig::RemoteStream<TRAITS>>(source);
    if (!stream) throw istd::Exception("signal: Can't connect to stream.", true);
    isig::StreamClient<TRAITS> client(stream, "velnor-rove-browse", c_streamQueue);
    Attachment attachment(acquisition, client);
    const isig::SuccessCode_e code = client.Open();
    if (code != isig::eSuccess)
        throw istd::Exception("Can't open " + stream->GetName() + " stream. Error: " + CodeText(code), true);
    while (!acquisition.Stopping()) {
        typename isig::StreamClient<TRAITS>::PairPtr block;
        const isig::SuccessCode_e popped = client.Pop(block);
        if (acquisition.Stopping()) return;
        if (popped != isig::eSuccess)
            throw istd::Exception("Interrupted read from " + stream->GetName() + " signal. Error: " + CodeText(popped),
                                  true);
        const auto& array = block->GetArray();
        acquisition.Buffer().Add(array.Data(), array.GetAtomCount(), std::chrono::steady_clock::now());
    }
}

template <class TRAITS>
void ReadOnDemand(Acquisition& acquisition, isig::SignalSourceSharedPtr& source) {
    const auto dod = std::dynamic_pointer_cast<isig::DataOnDemandRemoteSource<TRAITS>>(source);
    if (!dod) throw istd::Exception("signal: Can't connect to DOD signal.", true);
    while (!acquisition.Stopping()) {
        // One opening per size: the zoom or the pane's width may change it.
        const auto size = static_cast<std::uint32_t>(acquisition.Buffer().Window());
        isig::DodRemoteClient<TRAITS> client(dod->GetSharedPtr(), "dod_client", dod->GetTraits());
        Attachment attachment(acquisition, client);
        const isig::SuccessCode_e code = client.Open(isig::eNow, size, 0);
        if (acquisition.Stopping()) return;
        if (code != isig::eSuccess) throw istd::Exception("signal: Can't open DOD. Error: " + CodeText(code), true);
        while (acquisition.Buffer().Window() == size) {
            isig::Array<TRAITS> array(client.GetTraits(), size);
            isig::SignalMeta meta;
            const isig::SuccessCode_e read = client.Read(array, meta, 0);
            if (acquisition.Stopping()) return;
            // A signal with no history yet: asked again at the next frame.
            if (read == isig::eNoData) {
                if (!acquisition.Pause(c_dodPeriod)) return;
                continue;
            }
            if (read != isig::eSuccess)
                throw istd::Exception("Can't read " + dod->GetName() + " signal. Error: " + CodeText(read), true);
            acquisition.Buffer().Replace(array.Data(), array.GetAtomCount(), std::chrono::steady_clock::now());
            if (!acquisition.Pause(c_dodPeriod)) return;
        }
    }
}

template <class TRAITS>
void Read(Acquisition& acquisition, isig::SignalSourceSharedPtr& source, bool stream) {
    if (stream)
        ReadStream<TRAITS>(acquisition, source);
    else
        ReadOnDemand<TRAITS>(acquisition, source);
}

void ReadByType(Acquisition& acquisition, isig::SignalSourceSharedPtr& source, bool stream) {
    switch (source->BaseEnumType()) {
        case isig::eAtomDouble: Read<RoveTraits<double>>(acquisition, source, stream); return;
        case isig::eAtomFloat: Read<RoveTraits<float>>(acquisition, source, stream); return;
        case isig::eAtomUInt64: Read<RoveTraits<unsigned long long>>(acquisition, source, stream); return;
        case isig::eAtomInt64: Read<RoveTraits<long long>>(acquisition, source, stream); return;
        case isig::eAtomUInt32: Read<RoveTraits<unsigned int>>(acquisition, source, stream); return;
        case isig::eAtomInt32: Read<RoveTraits<int>>(acquisition, source, stream); return;
        case isig::eAtomUInt16: Read<RoveTraits<unsigned short>>(acquisition, source, stream); return;
        case isig::eAtomInt16: Read<RoveTraits<short>>(acquisition, source, stream); return;
        case isig::eAtomUInt8: Read<RoveTraits<unsigned char>>(acquisition, source, stream); return;
        case isig::eAtomInt8: Read<RoveTraits<signed char>>(acquisition, source, stream); return;
        default: throw istd::Exception("Error: Unknown signal type!", true);
    }
}

}  // namespace

Acquisition::Acquisition(isig::SignalSourceSharedPtr source, std::shared_ptr<PlotBuffer> buffer)
    : m_source(std::move(source)), m_buffer(std::move(buffer)) {
    m_components = m_source->GetComponentNames();
    const std::int32_t access = m_source->SignalAccessType();
    if (access != isig::eAccessStream && access != isig::eAccessDod)
        throw istd::Exception("signal: Unknown signal access type: " + std::to_string(access), true);
    m_stream = access == isig::eAccessStream;
    m_buffer->SetComponents(m_components.size());
    m_thread = std::thread([this] { Run(); });
}

Acquisition::~Acquisition() {
    Stop();
    if (m_thread.joinable()) m_thread.join();
}

void Acquisition::Run() {
    try {
        ReadByType(*this, m_source, m_stream);
    } catch (const std::exception& e) {
        if (!Stopping()) m_buffer->SetError(e.what());
    } catch (...) {
        if (!Stopping()) m_buffer->SetError("Unknown exception");
    }
}

void Acquisition::Attach(isig::SignalClientBase* client) {
    std::lock_guard<std::mutex> lock(m_clientLock);
    m_client = client;
    // A Stop that came before the client was there closes it now.
    if (m_stopping.load()) client->Close();
}

void Acquisition::Detach() {
    std::lock_guard<std::mutex> lock(m_clientLock);
    m_client = nullptr;
}

bool Acquisition::Pause(std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(m_clientLock);
    return !m_wake.wait_for(lock, period, [this] { return m_stopping.load(); });
}

void Acquisition::Stop() {
    std::lock_guard<std::mutex> lock(m_clientLock);
    m_stopping.store(true);
    if (m_client) m_client->Close();
    m_wake.notify_all();
}

}  // namespace browse
