// kel_seh_call for 32-bit Windows: an exception registration record pushed
// on the thread's handler chain (FS:[0]) for the length of the call.
//
// The record lives on kel_seh_call's own stack, which makes the frame
// reentrant:
//
//   ebp-20  next       the chain as it was    <- FS:[0] during the call
//   ebp-16  handler    _kel_seh_handler
//   ebp-12  edi, esi, ebx of the caller
//   ebp     the caller's ebp, then the return address, call and context
//
// Both ways out (the call returned, or the handler unwound to the record)
// leave through the same code, which starts with esp at the record: it puts
// the previous chain back in FS:[0] and restores the callee-saved registers
// from the stack, so nothing depends on what the provider left in them.
#include <windows.h>

#include "crypto/seh_frame.h"

extern "C" {

// Unwinds every frame registered after `registration` and resumes in
// kel_seh_call with the result 0. Does not return.
[[noreturn]] void kel_seh_unwind_to(void *registration, EXCEPTION_RECORD *record);

// Called by the exception dispatcher for an exception that nothing inside
// the call handled (cdecl: record, establisher frame, context, dispatcher).
EXCEPTION_DISPOSITION __cdecl kel_seh_handler(EXCEPTION_RECORD *record, void *registration,
                                              CONTEXT *, void *) {
  // The unwinding passes, ours included, only remove frames.
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
  // After a stack overflow the thread has lost its guard page and the
  // provider's state is unknown; resuming would turn the next overflow into
  // silent memory corruption. Let it end the process as it would anyway.
  if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) return ExceptionContinueSearch;
  kel_seh_unwind_to(registration, record);
}

}  // extern "C"

__asm__(R"(
  .text
  .p2align 4
  .globl _kel_seh_call
  .def _kel_seh_call; .scl 2; .type 32; .endef
_kel_seh_call:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl $_kel_seh_handler
  pushl %fs:0
  movl %esp, %fs:0
  # call(context), on a 16-byte aligned stack as g++ code expects.
  andl $-16, %esp
  subl $12, %esp
  pushl 12(%ebp)
  call *8(%ebp)
  movl $1, %eax
  leal -20(%ebp), %esp
Lkel_seh_leave:
  # esp points at the registration record.
  popl %ecx
  movl %ecx, %fs:0
  addl $4, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  .p2align 4
  .globl _kel_seh_unwind_to
  .def _kel_seh_unwind_to; .scl 2; .type 32; .endef
_kel_seh_unwind_to:
  movl 4(%esp), %eax
  movl 8(%esp), %edx
  # RtlUnwind(registration, target ip, record, 0) calls the handlers of the
  # frames inside the call with the unwinding flag, takes them off the
  # chain, and comes back here; it may change ebx, esi and edi, so the
  # record's address is read from the stack again.
  pushl $0
  pushl %edx
  pushl $Lkel_seh_unwound
  pushl %eax
  call _RtlUnwind@16
Lkel_seh_unwound:
  movl 4(%esp), %esp
  xorl %eax, %eax
  jmp Lkel_seh_leave
)");
