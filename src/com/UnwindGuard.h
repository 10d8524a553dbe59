// A frame that restores a call's state when a structured exception (an
// access violation, or RaiseException with any code) raised beneath it
// unwinds through it on its way to a handler of the caller's, as __finally
// does. The exception itself goes on unchanged: nothing here catches it.
//
// C++ exceptions never need this: the error boundary inside the body
// catches them. A structured exception is not a C++ exception, and code
// compiled by g++ runs no destructors when one passes; this frame is what
// puts the state back then. How it hooks into the unwinding depends on the
// toolchain: see UnwindGuard.cpp and docs/architecture.md.
#pragma once

#include <windows.h>

namespace pvt {

using GuardedBody = HRESULT (*)(void* context);
using UnwindRestore = void (*)(void* context);

// Returns body(context). If a structured exception unwinds through the
// call, restore(context) runs once on the way, while the frames beneath are
// still intact, before the caller's handler takes over. restore must not
// throw.
extern "C" HRESULT PvtCallRestoringOnUnwind(GuardedBody body, UnwindRestore restore, void* context);

namespace unwind_detail {

// A restore runs host calls too (releases), and one of them may raise in
// turn. The restore is then run again as that second unwind passes, until
// one run completes: a restore picks up where an interrupted run stopped
// (every holder is cleared before its release), so each run gets further.
struct Restore {
    UnwindRestore restore;
    void* context;
};

inline HRESULT RunRestore(void* restore) {
    const auto* r = static_cast<Restore*>(restore);
    r->restore(r->context);
    return S_OK;
}

inline void RunRestoreAgain(void* restore) {
    PvtCallRestoringOnUnwind(&RunRestore, &RunRestoreAgain, restore);
}

inline void RestoreToCompletion(UnwindRestore restore, void* context) {
    Restore r{restore, context};
    RunRestoreAgain(&r);
}

}  // namespace unwind_detail

// Runs body() (noexcept, returning an HRESULT) and, when an unwind passes,
// restore(). restore may be run again should a host call that it makes
// raise in turn, and must then go on where it stopped.
template <class Body, class Restore>
HRESULT RestoreOnUnwind(Body& body, Restore& restore) noexcept {
    struct Parts {
        Body& body;
        Restore& restore;
    } parts{body, restore};
    return PvtCallRestoringOnUnwind(
        [](void* p) -> HRESULT { return static_cast<Parts*>(p)->body(); },
        [](void* p) {
            unwind_detail::RestoreToCompletion([](void* q) { static_cast<Parts*>(q)->restore(); },
                                               p);
        },
        &parts);
}

// The same for a call object: call.Run() (noexcept, returning an HRESULT),
// and call.Restore() when an unwind passes. The call object itself is the
// context, so nothing is gathered for the guard: the cheapest form, for
// the calls that count every instruction.
template <class Call>
HRESULT RunRestoringOnUnwind(Call& call) noexcept {
    return PvtCallRestoringOnUnwind([](void* c) -> HRESULT { return static_cast<Call*>(c)->Run(); },
                                    [](void* c) {
                                        unwind_detail::RestoreToCompletion(
                                            [](void* q) { static_cast<Call*>(q)->Restore(); }, c);
                                    },
                                    &call);
}

}  // namespace pvt
