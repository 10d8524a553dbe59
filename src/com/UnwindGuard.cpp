// The guard frame of UnwindGuard.h: the one toolchain-specific file of the
// module.
//
// On x64 Windows every function with a handler names it in its unwind
// information. When a handler further up decides to take a structured
// exception, the platform's unwinder (RtlUnwindEx) walks the frames in
// between, innermost first, and calls each frame's handler with
// EXCEPTION_UNWINDING set while the frame's stack memory is still intact.
// That call is what __finally rides on, and what this guard uses.
//
// With g++, PvtCallRestoringOnUnwind is a small assembly function whose
// unwind information names PvtUnwindGuardHandler. It keeps restore and
// context in its own frame, calls body(context) and returns its result. The
// handler does nothing in the search for a handler (the exception is never
// taken here) and, when an unwind passes, reads restore and context back
// from the frame and runs restore once.
//
// With MSVC the same is __try/__finally.
#include "com/UnwindGuard.h"

#if defined(__GNUC__) && defined(__x86_64__)

// PvtCallRestoringOnUnwind keeps restore and context in the home area its
// caller reserved for its second and third arguments, and reserves 72 bytes
// of its own: the home area of the body's arguments, and room that only
// moves the frames beneath on the stack (the benchmark of Calculate is
// sensitive to where they land; see docs/architecture.md). Seen from the
// stack pointer after the prologue, the establisher frame that the unwinder
// hands to the handler, restore lies past those 72 bytes, the return
// address and the first home slot; context right after it.
constexpr int kRestoreSlot = (72 + 8 + 8) / 8;
constexpr int kContextSlot = kRestoreSlot + 1;

extern "C" EXCEPTION_DISPOSITION PvtUnwindGuardHandler(EXCEPTION_RECORD* record,
                                                       void* establisherFrame, CONTEXT*, void*) {
    if ((record->ExceptionFlags & EXCEPTION_UNWINDING) != 0) {
        void** slots = static_cast<void**>(establisherFrame);
        const auto restore = reinterpret_cast<pvt::UnwindRestore>(slots[kRestoreSlot]);
        slots[kRestoreSlot] = nullptr;  // once, should the unwinder call again
        if (restore != nullptr) restore(slots[kContextSlot]);
    }
    return ExceptionContinueSearch;
}

// The nop keeps the return address of the call off the epilogue: the
// unwinder calls no handler for a frame whose address lies in an epilogue.
asm(R"(
    .text
    .p2align 4
    .globl PvtCallRestoringOnUnwind
    .def PvtCallRestoringOnUnwind; .scl 2; .type 32; .endef
    .seh_proc PvtCallRestoringOnUnwind
PvtCallRestoringOnUnwind:
    movq %rdx, 16(%rsp)
    movq %r8, 24(%rsp)
    subq $72, %rsp
    .seh_stackalloc 72
    .seh_endprologue
    movq %rcx, %rax
    movq %r8, %rcx
    callq *%rax
    nop
    addq $72, %rsp
    ret
    .seh_handler PvtUnwindGuardHandler, @unwind, @except
    .seh_endproc
)");

#elif defined(_MSC_VER)

extern "C" HRESULT PvtCallRestoringOnUnwind(pvt::GuardedBody body, pvt::UnwindRestore restore,
                                            void* context) {
    HRESULT hr = E_FAIL;
    __try {
        hr = body(context);
    } __finally {
        if (AbnormalTermination()) restore(context);
    }
    return hr;
}

#else
#error "PvtCallRestoringOnUnwind needs a guard frame for this toolchain"
#endif
