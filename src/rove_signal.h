#pragma once
// The signal command's readers: one template per access type over the
// traits of the ten atom types, reached through PrintRemoteSignal.
#include <cstdint>

#include "isig/signal_source.h"
#include "isig/signal_traits.h"

// The signal traits of the ten atom types.
template <class T>
using RoveTraits = isig::SignalTraits<T, isig::RuntimeDefined, 1>;

template <class TRAITS>
void PrintRemoteSignal(isig::SignalSourceSharedPtr& source);
template <class TRAITS>
void PrintRemoteDod(isig::SignalSourceSharedPtr& source);
template <class TRAITS>
void PrintRemoteStream(isig::SignalSourceSharedPtr& source);

// Signal calls whose acquisition failed without ending the command (the
// failure was reported on standard error); any of them makes the exit
// status 1.
unsigned SignalFailures();
