// kel_seh_call for 64-bit Windows: a function whose unwind information names
// kel_seh_handler as its exception handler, so the dispatcher consults the
// handler for exceptions raised below it that nothing inside handled.
#include <windows.h>

#include "crypto/seh_frame.h"

extern "C" {

// The instruction in kel_seh_call where a call that raised comes back to,
// with eax = 0, to leave through the normal epilogue.
extern char kel_seh_resume[];

EXCEPTION_DISPOSITION kel_seh_handler(EXCEPTION_RECORD *record, void *frame, CONTEXT *context,
                                      DISPATCHER_CONTEXT *dispatcher) {
  // The unwinding passes, ours included, only remove frames.
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
  // After a stack overflow the thread has lost its guard page and the
  // provider's state is unknown; resuming would turn the next overflow into
  // silent memory corruption. Let it end the process as it would anyway.
  if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) return ExceptionContinueSearch;
  // Unwinds the frames of the call (running their own unwind handlers),
  // restores the callee-saved registers as kel_seh_call had them, and
  // continues at kel_seh_resume with rax = 0. Does not return.
  RtlUnwindEx(frame, kel_seh_resume, record, nullptr, context, dispatcher->HistoryTable);
  return ExceptionContinueSearch;
}

}  // extern "C"

// The return address of the call must lie inside the body, before the
// epilogue: the unwinder takes an address in the epilogue for a frame that
// is already leaving, and would skip the handler. Hence the mov after it.
__asm__(R"(
  .text
  .p2align 4
  .globl kel_seh_call
  .def kel_seh_call; .scl 2; .type 32; .endef
  .seh_proc kel_seh_call
kel_seh_call:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  .seh_handler kel_seh_handler, @except
  movq %rcx, %rax
  movq %rdx, %rcx
  callq *%rax
  movl $1, %eax
  .globl kel_seh_resume
kel_seh_resume:
  addq $40, %rsp
  ret
  .seh_endproc
)");
