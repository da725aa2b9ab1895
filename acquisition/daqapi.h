#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>

#include "Art_DAQ.h"

// The card library's types as seen by the program. They are derived from the
// ArtDAQ_ function signatures, so the program builds unchanged against any
// Art_DAQ.h whose functions take the same arguments, whatever its typedefs are
// called. This is the only place that would need to know them.

namespace daqapi {

template <typename F> struct FunctionTraits;

template <typename R, typename... A> struct FunctionTraits<R (*)(A...)>
{
    using Result = R;
    template <std::size_t I> using Arg = std::tuple_element_t<I, std::tuple<A...>>;
};

#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows: a vendor header may declare its functions __stdcall.
template <typename R, typename... A> struct FunctionTraits<R(__stdcall *)(A...)>
{
    using Result = R;
    template <std::size_t I> using Arg = std::tuple_element_t<I, std::tuple<A...>>;
};
#endif

template <auto Function, std::size_t I>
using ArgOf = typename FunctionTraits<decltype(Function)>::template Arg<I>;

} // namespace daqapi

// Status returned by every library call; negative means failure.
using DaqStatus = typename daqapi::FunctionTraits<decltype(&ArtDAQ_StartTask)>::Result;
// Opaque task handle (pointer-sized).
using DaqTaskHandle = std::remove_pointer_t<daqapi::ArgOf<&ArtDAQ_CreateTask, 1>>;
// Callback pointer types taken by the two registration calls.
using DaqEveryNCallback = daqapi::ArgOf<&ArtDAQ_RegisterEveryNSamplesEvent, 4>;
using DaqDoneCallback = daqapi::ArgOf<&ArtDAQ_RegisterDoneEvent, 2>;
// Parameter types of those callbacks, for defining functions that match them.
template <std::size_t I>
using DaqEveryNArg = typename daqapi::FunctionTraits<DaqEveryNCallback>::template Arg<I>;
template <std::size_t I>
using DaqDoneArg = typename daqapi::FunctionTraits<DaqDoneCallback>::template Arg<I>;
using DaqCallbackStatus = typename daqapi::FunctionTraits<DaqEveryNCallback>::Result;
using DaqDoneStatus = typename daqapi::FunctionTraits<DaqDoneCallback>::Result;
// The count that a read stores.
using DaqReadCount = std::remove_pointer_t<daqapi::ArgOf<&ArtDAQ_ReadAnalogF64, 6>>;

static_assert(sizeof(DaqTaskHandle) == sizeof(void *), "the task handle is pointer-sized");
