#pragma once
// The x64 machine code the library leaves in executable memory that outlives
// it: the two per-thread hook trampolines and, per stub page, the common
// window-procedure dispatcher, the forwarder of released windows and the
// 37-byte stubs. Emitted as bytes here (no windows.h), so the layouts can be
// checked on their own; the callers place them in executable pages.
#include <array>
#include <cstddef>
#include <cstdint>

namespace vm::hooklib::code {

// ---- Hook trampolines -------------------------------------------------------
// Each is a hook procedure (code, wParam, lParam). It reads the trampoline
// block: when its Active byte is set and the library's procedure for this
// trampoline (offset 16 for trampoline 0, 24 for trampoline 1) is not 0, it
// jumps there with the same arguments; otherwise it calls CallNextHookEx
// (offset 8) with (NULL, code, wParam, lParam). Both are tail jumps, so the
// code never touches the stack.
inline constexpr std::size_t kTrampolineSize = 64;
std::array<std::uint8_t, kTrampolineSize> TrampolineCode(std::uint64_t block_address, int index);

// ---- Window-procedure stub pages ---------------------------------------------
inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::size_t kPageLinkOffset = 0;    // previous page, 8 bytes
inline constexpr std::size_t kDispatcherOffset = 8;  // common dispatcher
inline constexpr std::size_t kDispatcherSize = 144;
inline constexpr std::size_t kDispatcherUnwindOffset = 136;  // inside the dispatcher's 144 bytes
inline constexpr std::size_t kForwarderOffset = 152;         // forwarder of released windows
inline constexpr std::size_t kForwarderUnwindOffset = 184;
inline constexpr std::size_t kStubsOffset = 198;
inline constexpr std::size_t kStubSize = 37;
inline constexpr std::size_t kStubsPerPage = 105;
static_assert(kStubsOffset + kStubsPerPage * kStubSize <= kPageSize);

// Stub fields (call form).
inline constexpr std::size_t kStubTargetOffset = 2;       // imm64 of "mov rax, imm64"
inline constexpr std::size_t kStubFormOffset = 10;        // FF D0 in call form only
inline constexpr std::size_t kStubMethodCodeOffset = 12;  // method code, or next free stub
inline constexpr std::size_t kStubMethodObjectOffset = 20;

// The dispatcher. Entered from a stub's "call rax" with the window procedure's
// arguments (hWnd, Msg, wParam, lParam) and the address of the stub's method
// pair on top of the stack. It builds a TMessage, returns 1 (IsBadReadPtr's
// answer) without calling anything when the method object is unreadable, and
// otherwise calls method(object, hWnd, &message) with the call counter raised
// (64-bit interlocked on the counter block) and returns message.Result.
inline constexpr std::size_t kDispatcherCodeSize = 127;
std::array<std::uint8_t, kDispatcherCodeSize> DispatcherCode(std::uint64_t counter_address,
                                                             std::uint64_t is_bad_read_ptr);
// Unwind data of the dispatcher, so exceptions can be walked through it. The
// function starts one byte in (after "pop rax", from where the frame looks
// like that of an ordinary function).
inline constexpr std::size_t kDispatcherFunctionBegin = 1;
std::array<std::uint8_t, 12> DispatcherUnwindInfo();

// The forwarder shared by the stubs of one page in forward form: called with
// the window procedure's arguments, rax = previous window procedure and
// r10 = CallWindowProcW or CallWindowProcA, it calls r10(rax, hWnd, Msg,
// wParam, lParam) in a frame of its own and returns the result.
inline constexpr std::size_t kForwarderCodeSize = 29;
std::array<std::uint8_t, kForwarderCodeSize> ForwarderCode();
std::array<std::uint8_t, 8> ForwarderUnwindInfo();

// Writes bytes 0..11 of a stub in call form: mov rax, dispatcher; call rax.
void WriteCallForm(std::uint8_t* stub, std::uint64_t dispatcher_address);
// Writes a stub in forward form: mov rax, previous procedure; mov r10,
// CallWindowProc; jmp forwarder. Bytes 2..9 hold the previous procedure, as
// in call form they hold the dispatcher; bytes 10..11 tell the forms apart.
void WriteForwardForm(std::uint8_t* stub, std::uint64_t stub_address, std::uint64_t old_proc,
                      std::uint64_t call_window_proc, std::uint64_t forwarder_address);
bool IsCallForm(const std::uint8_t* stub);

std::uint64_t ReadU64(const std::uint8_t* p);
void WriteU64(std::uint8_t* p, std::uint64_t value);

}  // namespace vm::hooklib::code
