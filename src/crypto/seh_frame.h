// A frame-based structured-exception handler around one call, for 32-bit
// and 64-bit Windows (one assembly frame per processor, in
// seh_frame_i686_windows.cc and seh_frame_x86_64_windows.cc).
//
// kel_seh_call runs call(context) and returns 1 when it returned, or 0 when
// a structured exception left it: the frames of the call are unwound and
// the process goes on. Being frame-based, the handler is consulted only for
// exceptions that nothing inside the call handled. Stack overflow
// (0xC00000FD) passes on to the handlers further out.
//
// The call's frames are unwound the Windows way: their own frame handlers
// (an MSVC-built provider's destructors) run, g++ destructors do not, since
// g++ code takes no part in unwinding exceptions that are not its own.
#ifndef KEL_CRYPTO_SEH_FRAME_H_
#define KEL_CRYPTO_SEH_FRAME_H_

extern "C" int kel_seh_call(void (*call)(void *), void *context) noexcept;

#endif  // KEL_CRYPTO_SEH_FRAME_H_
