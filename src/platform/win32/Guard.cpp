// GuardedCall on Windows: a structured-exception frame made by hand, since
// this compiler offers no __try/__except.
//
// x86-64: the assembly routine nuva_guarded_call carries unwind data whose
// exception handler is nuva_guard_handler. The system calls that handler
// while it looks for a frame to handle an exception raised below; the
// handler records the exception and calls RtlUnwindEx, which unwinds every
// frame below the routine (running their handlers) and resumes inside it at
// nuva_guard_resume with RAX = 1, from where it returns normally.
//
// i686: the routine links a registration record (previous record, handler,
// then our own field: the address of the caller's TStructuredException) at
// the head of the thread's chain (FS:[0]) for the duration of the call. The
// handler records the exception, calls RtlUnwind, which unlinks and unwinds
// every record below ours, and jumps to the recovery point with the stack
// pointer at our record; the routine's epilogue unlinks the record and
// restores the saved registers from there.
//
// Frame layouts, as the handlers read them:
//   x86-64  establisher frame = RSP after the prologue
//           [frame + 32]   TStructuredException*   (above the shadow space)
//   i686    establisher frame = the registration record
//           [record + 0]   previous record
//           [record + 4]   handler
//           [record + 8]   TStructuredException*
//           [record + 12]  saved EDI, ESI, EBX, EBP, then the return address
//   (the call below the record keeps the stack 16-byte aligned, as the
//   routine's caller had it)
#include "platform/win32/Win32Internal.h"

#include <cstdlib>

#include "platform/Guard.h"

extern "C" {
// function(context), guarded; 0 when it returned, 1 when an exception ended it.
int nuva_guarded_call(void (*function)(void*), void* context, nuva::TStructuredException* raised);
// The recovery point inside nuva_guarded_call.
void nuva_guard_resume();
}

namespace {

// Handler flags of the unwinding passes: then the handler has nothing to do.
constexpr DWORD kUnwindFlags = 0x66;  // EXCEPTION_UNWINDING | EXIT_UNWIND | TARGET | COLLIDED

void Record(const EXCEPTION_RECORD* record, nuva::TStructuredException* raised) {
    raised->code = record->ExceptionCode;
    raised->address = record->ExceptionAddress;
}

}  // namespace

#if defined(__x86_64__)

namespace {

// This compiler's C++ exceptions: throw, unwind, forced unwind ("GCC" with
// 0x20, 0x21, 0x22 in the top byte). Its own handlers take them further.
bool IsCompilerException(DWORD code) {
    return (code & 0x00FFFFFFu) == 0x00474343u && (code >> 24) >= 0x20u && (code >> 24) <= 0x22u;
}

}  // namespace

extern "C" EXCEPTION_DISPOSITION nuva_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT*,
                                                    DISPATCHER_CONTEXT* dispatch) {
    if ((record->ExceptionFlags & kUnwindFlags) || IsCompilerException(record->ExceptionCode))
        return ExceptionContinueSearch;
    Record(record, *reinterpret_cast<nuva::TStructuredException**>(static_cast<char*>(frame) + 32));
    RtlUnwindEx(frame, reinterpret_cast<void*>(&nuva_guard_resume), record,
                reinterpret_cast<void*>(1), dispatch->ContextRecord, dispatch->HistoryTable);
    std::abort();  // RtlUnwindEx does not return
}

asm(R"(
    .text
    .p2align 4
    .globl nuva_guarded_call
    .def nuva_guarded_call; .scl 2; .type 32; .endef
    .seh_proc nuva_guarded_call
nuva_guarded_call:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_handler nuva_guard_handler, @except
    .seh_endprologue
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
    .globl nuva_guard_resume
nuva_guard_resume:
    nop
    addq $40, %rsp
    retq
    .seh_endproc
)");

#elif defined(__i386__)

extern "C" {
// Continues at the recovery point of the nuva_guarded_call whose record is
// `frame`. Never returns.
[[noreturn]] void nuva_guard_continue(void* frame);
}

extern "C" EXCEPTION_DISPOSITION __cdecl nuva_guard_handler(EXCEPTION_RECORD* record, void* frame,
                                                            CONTEXT*, void*) {
    if (record->ExceptionFlags & kUnwindFlags) return ExceptionContinueSearch;
    Record(record, reinterpret_cast<nuva::TStructuredException**>(frame)[2]);
    RtlUnwind(frame, nullptr, record, nullptr);
    nuva_guard_continue(frame);
}

asm(R"(
    .text
    .p2align 4
    .globl _nuva_guarded_call
    .def _nuva_guarded_call; .scl 2; .type 32; .endef
_nuva_guarded_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl 16(%ebp)
    pushl $_nuva_guard_handler
    pushl %fs:0
    movl %esp, %fs:0
    subl $12, %esp
    pushl 12(%ebp)
    call *8(%ebp)
    addl $16, %esp
    xorl %eax, %eax
    .globl _nuva_guard_resume
_nuva_guard_resume:
    popl %ecx
    movl %ecx, %fs:0
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .p2align 4
    .globl _nuva_guard_continue
    .def _nuva_guard_continue; .scl 2; .type 32; .endef
_nuva_guard_continue:
    movl 4(%esp), %esp
    cld
    movl $1, %eax
    jmp _nuva_guard_resume
)");

#else
#error "GuardedCall: no structured-exception frame for this architecture"
#endif

namespace nuva {

bool GuardedCall(void (*function)(void*), void* context, TStructuredException* raised) {
    TStructuredException ignored;
    return nuva_guarded_call(function, context, raised ? raised : &ignored) == 0;
}

}  // namespace nuva
