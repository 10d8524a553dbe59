// What a host's __try/__except around a plug-in call does, for tests built
// with g++ (which has no __try): runs a body and takes a structured
// exception raised beneath it, ending the unwind here.
#pragma once

#include <windows.h>

#include <type_traits>

namespace pvt::test {

// A structured exception as the catch frame received it.
struct CaughtException {
    DWORD code = 0;  // 0: nothing was raised
    DWORD parameterCount = 0;
    ULONG_PTR parameters[2] = {};
};

using CatchBody = void (*)(void* context);

// Runs body(context); a structured exception raised beneath it is taken
// here (the frames in between are unwound) and described in the result.
CaughtException CatchStructured(CatchBody body, void* context);

template <class Body>
CaughtException CatchStructured(Body&& body) {
    using Callable = std::remove_reference_t<Body>;
    return CatchStructured([](void* p) { (*static_cast<Callable*>(p))(); }, &body);
}

}  // namespace pvt::test
