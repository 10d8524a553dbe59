// The catch frame of StructuredCatch.h, for g++ on x64 Windows.
//
// PvtTestCatchStructured is a small assembly function whose unwind
// information names PvtTestCatchHandler. When the platform searches for a
// handler for a structured exception raised beneath it, the handler takes
// it as __except(EXCEPTION_EXECUTE_HANDLER) would: it notes the exception,
// then has RtlUnwindEx unwind every frame in between (calling their
// handlers with EXCEPTION_UNWINDING, which is what the module's guards run
// on) and resume at PvtTestCatchLanding in this frame, with the exception
// code as the return value. C++ exceptions are left to their own handlers.
#include "unwind/StructuredCatch.h"

#if !defined(__GNUC__) || !defined(__x86_64__)
#error "StructuredCatch.cpp is the catch frame for g++ on x64; MSVC has __try/__except"
#endif

namespace {

constexpr DWORD kGccThrow = 0x20474343;  // g++'s own code for a C++ exception
pvt::test::CaughtException lastCaught;

}  // namespace

extern "C" {

DWORD PvtTestCatchStructured(pvt::test::CatchBody body, void* context);
extern char PvtTestCatchLanding[];

EXCEPTION_DISPOSITION PvtTestCatchHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                          CONTEXT*, DISPATCHER_CONTEXT* dispatcher) {
    if ((record->ExceptionFlags & EXCEPTION_UNWINDING) != 0) return ExceptionContinueSearch;
    if (record->ExceptionCode == kGccThrow) return ExceptionContinueSearch;
    lastCaught.code = record->ExceptionCode;
    lastCaught.parameterCount = record->NumberParameters;
    for (DWORD i = 0; i < 2 && i < record->NumberParameters; ++i) {
        lastCaught.parameters[i] = record->ExceptionInformation[i];
    }
    RtlUnwindEx(establisherFrame, PvtTestCatchLanding, record,
                reinterpret_cast<void*>(static_cast<ULONG_PTR>(record->ExceptionCode)),
                dispatcher->ContextRecord, dispatcher->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind resumes at the landing
}

}  // extern "C"

// Returns 0 when body returns; resumed at the landing, with the stack
// pointer as after the prologue, it returns the code in eax.
asm(R"(
    .text
    .p2align 4
    .globl PvtTestCatchStructured
    .def PvtTestCatchStructured; .scl 2; .type 32; .endef
    .seh_proc PvtTestCatchStructured
PvtTestCatchStructured:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
    .globl PvtTestCatchLanding
PvtTestCatchLanding:
    addq $40, %rsp
    ret
    .seh_handler PvtTestCatchHandler, @unwind, @except
    .seh_endproc
)");

namespace pvt::test {

CaughtException CatchStructured(CatchBody body, void* context) {
    lastCaught = CaughtException();
    const DWORD code = PvtTestCatchStructured(body, context);
    return code == 0 ? CaughtException() : lastCaught;
}

}  // namespace pvt::test
