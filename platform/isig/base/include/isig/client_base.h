#pragma once
// Bases of the signal clients: the reader side (SignalClientBase, also what
// the interrupt handler closes) and the side that receives pushed data
// (SignalDispatchBase, called by the receiver servant).
#include <cstdint>
#include <string>

#include "isig/access_mode.h"
#include "isig/codes.h"
#include "isig/signal_meta.h"
#include "isig/signal_source.h"

// The receiver's object reference type, named without the CORBA headers.
namespace i_NET {
class _objref_SignalReceiver;
}

namespace isig {

using SignalReceiverPtr = i_NET::_objref_SignalReceiver*;

// Every operation answers as a client that cannot read; clients override
// what they support.
class SignalClientBase {
public:
    SignalClientBase() = default;
    SignalClientBase(const SignalClientBase&) = delete;
    SignalClientBase& operator=(const SignalClientBase&) = delete;

    virtual SuccessCode_e Open() { return eFailure; }
    virtual SuccessCode_e Open(AccessMode_e /*mode*/, std::size_t /*size*/, std::int64_t /*offset*/) {
        return eFailure;
    }
    // Must be callable from another thread while a read waits: it ends that read.
    virtual void Close() {}
    virtual bool IsOpen() const { return false; }
    virtual std::int32_t SignalAccessType() const { return 0; }
    virtual std::string GetName() const { return std::string(); }
    virtual SignalStatistics GetStatistics() const { return {}; }
    virtual ~SignalClientBase() = default;
    virtual SuccessCode_e ForwardTo(SignalReceiverPtr /*receiver*/) { return eFailure; }

    // Reads into `data`, which has room for `elements` elements; on success
    // `elements` holds the elements read.
    virtual SuccessCode_e Read(double*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(float*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(unsigned long long*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(long long*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(unsigned int*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(int*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(unsigned short*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(short*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(unsigned char*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Read(signed char*, std::uint64_t&, std::uint64_t, SignalMeta&) { return eFailure; }
};

// Receives blocks pushed by the remote signal (one overload per element
// type) and the end of the pushing.
class SignalDispatchBase {
public:
    SignalDispatchBase() = default;
    SignalDispatchBase(const SignalDispatchBase&) = delete;
    SignalDispatchBase& operator=(const SignalDispatchBase&) = delete;
    virtual ~SignalDispatchBase() = default;

    virtual void Cancel(SuccessCode_e code) = 0;

    // `elements` elements at `data`, valid during the call only. A client
    // that does not take this element type answers eFailure.
    virtual SuccessCode_e Dispatch(const double*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const float*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const unsigned long long*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const long long*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const unsigned int*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const int*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const unsigned short*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const short*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const unsigned char*, std::uint64_t, const SignalMeta&) { return eFailure; }
    virtual SuccessCode_e Dispatch(const signed char*, std::uint64_t, const SignalMeta&) { return eFailure; }
};

}  // namespace isig
