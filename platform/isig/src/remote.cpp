#include "isig/remote.h"

#include <limits>
#include <vector>

#include "istd/exception.h"

namespace isig {
namespace {

// Reports the types the remote signal gave, for signals no reader takes.
class OpaqueSignalSource : public SignalSource {
public:
    OpaqueSignalSource(std::string name, std::int32_t atomType, std::int32_t accessType, std::vector<std::string> names)
        : m_name(std::move(name)), m_atomType(atomType), m_accessType(accessType), m_names(std::move(names)) {}

    std::int32_t BaseEnumType() const override { return m_atomType; }
    std::int32_t SignalAccessType() const override { return m_accessType; }
    const std::string& GetName() const override { return m_name; }
    std::vector<std::string> GetComponentNames() const override { return m_names; }
    SignalStatistics GetStatistics() const override { return {}; }

private:
    const std::string m_name;
    const std::int32_t m_atomType;
    const std::int32_t m_accessType;
    const std::vector<std::string> m_names;
};

std::vector<std::string> NamesOf(const i_NET::NameSeq& seq) {
    std::vector<std::string> names;
    names.reserve(seq.length());
    for (CORBA::ULong i = 0; i < seq.length(); ++i) names.emplace_back(seq[i].in());
    return names;
}

template <class T>
SignalSourceSharedPtr MakeTyped(i_NET::RemoteSignal_ptr remote, i_NET::RemoteSignal_ptr bulk,
                                const i_NET::SignalInfo& info, std::chrono::milliseconds callDeadline) {
    using Traits = SignalTraits<T, RuntimeDefined, 1>;
    const std::vector<std::string> names = NamesOf(info.components);
    Traits traits(static_cast<std::uint32_t>(names.size()), names);
    if (info.accessType == eAccessStream)
        return std::make_shared<RemoteStream<Traits>>(remote, info.name.in(), traits, info.blockSize,
                                                      RemoteStream<Traits>::c_defaultPullDepth, bulk, callDeadline);
    return std::make_shared<DataOnDemandRemoteSource<Traits>>(remote, info.name.in(), traits, callDeadline);
}

SignalSourceSharedPtr MakeForType(i_NET::RemoteSignal_ptr remote, i_NET::RemoteSignal_ptr bulk,
                                  const i_NET::SignalInfo& info, std::chrono::milliseconds callDeadline) {
    switch (info.atomType) {
        case eAtomDouble: return MakeTyped<double>(remote, bulk, info, callDeadline);
        case eAtomFloat: return MakeTyped<float>(remote, bulk, info, callDeadline);
        case eAtomUInt64: return MakeTyped<unsigned long long>(remote, bulk, info, callDeadline);
        case eAtomInt64: return MakeTyped<long long>(remote, bulk, info, callDeadline);
        case eAtomUInt32: return MakeTyped<unsigned int>(remote, bulk, info, callDeadline);
        case eAtomInt32: return MakeTyped<int>(remote, bulk, info, callDeadline);
        case eAtomUInt16: return MakeTyped<unsigned short>(remote, bulk, info, callDeadline);
        case eAtomInt16: return MakeTyped<short>(remote, bulk, info, callDeadline);
        case eAtomUInt8: return MakeTyped<unsigned char>(remote, bulk, info, callDeadline);
        case eAtomInt8: return MakeTyped<signed char>(remote, bulk, info, callDeadline);
        default: return nullptr;
    }
}

template <class T>
SuccessCode_e DispatchAs(SignalDispatchBase& target, const i_NET::Block& block) {
    const std::uint64_t elements = block.info.atomCount * block.info.components;
    const CORBA::Octet* octets = block.data.get_buffer();
    SignalMeta meta = MetaOf(block.info);
    if (reinterpret_cast<std::uintptr_t>(octets) % alignof(T) == 0)
        return target.Dispatch(reinterpret_cast<const T*>(octets), elements, meta);
    // The ORB's buffers are aligned in practice; copy when one is not.
    std::vector<T> aligned(static_cast<std::size_t>(elements));
    std::memcpy(aligned.data(), octets, block.data.length());
    return target.Dispatch(aligned.data(), elements, meta);
}

SuccessCode_e DispatchBlock(SignalDispatchBase& target, const i_NET::Block& block) {
    if (CheckBlock(block, block.info.atomType, block.info.components, std::numeric_limits<std::uint64_t>::max()) !=
        eSuccess)
        return eFailure;
    switch (block.info.atomType) {
        case eAtomDouble: return DispatchAs<double>(target, block);
        case eAtomFloat: return DispatchAs<float>(target, block);
        case eAtomUInt64: return DispatchAs<unsigned long long>(target, block);
        case eAtomInt64: return DispatchAs<long long>(target, block);
        case eAtomUInt32: return DispatchAs<unsigned int>(target, block);
        case eAtomInt32: return DispatchAs<int>(target, block);
        case eAtomUInt16: return DispatchAs<unsigned short>(target, block);
        case eAtomInt16: return DispatchAs<short>(target, block);
        case eAtomUInt8: return DispatchAs<unsigned char>(target, block);
        case eAtomInt8: return DispatchAs<signed char>(target, block);
        default: return eFailure;
    }
}

PortableServer::POA_ptr RootPoa() {
    int argc = 0;
    // Gives the process's ORB when one runs already.
    CORBA::ORB_var orb = CORBA::ORB_init(argc, nullptr);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    return poa._retn();
}

}  // namespace

SignalMeta MetaOf(const i_NET::BlockInfo& info) {
    SignalMeta meta{{eMetaLmt, static_cast<std::int64_t>(info.lmt)},
                    {eMetaAtomCount, static_cast<std::int64_t>(info.atomCount)},
                    {eMetaPosition, static_cast<std::int64_t>(info.position)}};
    if (info.event >= 0) meta[eMetaEvent] = info.event;
    return meta;
}

SuccessCode_e CheckBlock(const i_NET::Block& block, std::int32_t atomType, std::uint32_t components,
                         std::uint64_t roomBytes) {
    const std::uint32_t elementSize = ElementSize(block.info.atomType);
    if (block.info.atomType != atomType || elementSize == 0) return eFailure;
    if (block.info.components != components || components == 0) return eFailure;
    const std::uint64_t atomSize = std::uint64_t{components} * elementSize;
    if (block.info.atomCount > std::numeric_limits<std::uint32_t>::max()) return eFailure;
    const std::uint64_t bytes = block.info.atomCount * atomSize;  // both below 2^32 * 2^35: no overflow
    if (bytes != block.data.length() || bytes > roomBytes) return eFailure;
    return eSuccess;
}

SuccessCode_e ReadDodRemoteBytes(i_NET::RemoteSignal_ptr remote, i_NET::SignalReceiver_ptr receiver,
                                 std::uint64_t lmt, std::int64_t offset, std::int32_t atomType,
                                 std::uint32_t components, void* buffer, std::uint64_t room, SignalMeta& meta,
                                 std::uint64_t& elementsRead) {
    elementsRead = 0;
    const std::uint32_t elementSize = ElementSize(atomType);
    if (components == 0 || elementSize == 0) return eFailure;
    const std::uint64_t atoms = room / components;
    i_NET::Block_var block;
    const CORBA::Long code = remote->Read(receiver, lmt, offset, atoms, block.out());
    if (code != eSuccess) return ToSuccessCode(code);
    if (CheckBlock(block.in(), atomType, components, atoms * components * elementSize) != eSuccess) return eFailure;
    if (block->data.length() > 0) std::memcpy(buffer, block->data.get_buffer(), block->data.length());
    elementsRead = block->info.atomCount * components;
    meta = MetaOf(block->info);
    return eSuccess;
}

i_SignalReceiver_impl* i_SignalReceiver_impl::Create(SignalDispatchBase* target) {
    PortableServer::POA_var poa = RootPoa();
    // Owned through the ORB's reference count from here on; Destroy drops it.
    auto* servant = new i_SignalReceiver_impl(target);
    try {
        servant->m_id = poa->activate_object(servant);
    } catch (...) {
        servant->_remove_ref();
        throw;
    }
    servant->m_poa = poa._retn();
    return servant;
}

void i_SignalReceiver_impl::Destroy(i_SignalReceiver_impl* servant) {
    if (!servant) return;
    servant->Detach();
    try {
        servant->m_poa->deactivate_object(servant->m_id.in());
    } catch (const CORBA::Exception& e) {
        ISIG_TRACE(2, "Can't deactivate signal receiver: " << e._name());
    }
    servant->_remove_ref();
}

i_NET::SignalReceiver_ptr i_SignalReceiver_impl::Reference() {
    CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
    return i_NET::SignalReceiver::_narrow(object);
}

SignalDispatchBase* i_SignalReceiver_impl::Enter() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_target) ++m_calls;
    return m_target;
}

void i_SignalReceiver_impl::Leave() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_calls;
    }
    m_idle.notify_all();
}

void i_SignalReceiver_impl::Detach() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_target = nullptr;
    m_idle.wait(lock, [this] { return m_calls == 0; });
}

void i_SignalReceiver_impl::Push(const i_NET::Block& block) {
    SignalDispatchBase* target = Enter();
    if (!target) return;
    try {
        const SuccessCode_e code = DispatchBlock(*target, block);
        if (code != eSuccess) ISIG_TRACE(2, "Pushed block not taken: " << code);
    } catch (const std::exception& e) {
        ISIG_TRACE(1, "Pushed block failed: " << e.what());
    } catch (...) {
        ISIG_TRACE(1, "Pushed block failed: unknown exception");
    }
    Leave();
}

void i_SignalReceiver_impl::Cancel(CORBA::Long code) {
    SignalDispatchBase* target = Enter();
    if (!target) return;
    try {
        target->Cancel(ToSuccessCode(code));
    } catch (const std::exception& e) {
        ISIG_TRACE(1, "Cancel failed: " << e.what());
    } catch (...) {
        ISIG_TRACE(1, "Cancel failed: unknown exception");
    }
    Leave();
}

SignalSourceSharedPtr CreateRemoteSignalSource(i_NET::RemoteSignal_ptr remote, i_NET::RemoteSignal_ptr bulk,
                                               std::chrono::milliseconds callDeadline, const std::string& name) {
    i_NET::SignalInfo_var info = remote->GetInfo();
    if (!name.empty()) info->name = name.c_str();
    const bool readable = info->accessType == eAccessStream || info->accessType == eAccessDod;
    if (readable) {
        if (SignalSourceSharedPtr source = MakeForType(remote, bulk, info.in(), callDeadline)) return source;
    }
    const std::int32_t atomType = ElementSize(info->atomType) > 0 || info->atomType == eAtomNone
                                      ? info->atomType
                                      : static_cast<std::int32_t>(eAtomInvalid);
    return std::make_shared<OpaqueSignalSource>(info->name.in(), atomType, info->accessType, NamesOf(info->components));
}

}  // namespace isig
