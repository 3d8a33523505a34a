#include "hooklib/core/machine_code.h"

#include <cstring>
#include <initializer_list>

namespace vm::hooklib::code {
namespace {

// Appends bytes and 64-bit immediates to a fixed buffer.
template <std::size_t N>
class Emitter {
 public:
  explicit Emitter(std::array<std::uint8_t, N>& out) : out_(out) { out_.fill(0xCC); }
  Emitter& Bytes(std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) out_.at(pos_++) = b;
    return *this;
  }
  Emitter& U64(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out_.at(pos_++) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  Emitter& U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out_.at(pos_++) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  std::size_t pos() const { return pos_; }

 private:
  std::array<std::uint8_t, N>& out_;
  std::size_t pos_ = 0;
};

// UNWIND_INFO codes.
constexpr std::uint8_t kPushNonVol = 0;
constexpr std::uint8_t kAllocSmall = 2;
constexpr std::uint8_t kRbx = 3;
constexpr std::uint8_t kRsi = 6;

}  // namespace

std::array<std::uint8_t, kTrampolineSize> TrampolineCode(std::uint64_t block, int index) {
  const std::uint8_t proc_offset = index == 0 ? 16 : 24;
  std::array<std::uint8_t, kTrampolineSize> code{};
  Emitter e(code);
  e.Bytes({0x48, 0xB8}).U64(block);          //  0: mov rax, block
  e.Bytes({0x80, 0x38, 0x00});               // 10: cmp byte [rax], 0
  e.Bytes({0x74, 0x0B});                     // 13: je pass (26)
  e.Bytes({0x48, 0x8B, 0x40, proc_offset});  // 15: mov rax, [rax + 16/24]
  e.Bytes({0x48, 0x85, 0xC0});               // 19: test rax, rax
  e.Bytes({0x74, 0x02});                     // 22: je pass (26)
  e.Bytes({0xFF, 0xE0});                     // 24: jmp rax
  // pass: CallNextHookEx(NULL, code, wParam, lParam)
  e.Bytes({0x4D, 0x89, 0xC1});        // 26: mov r9, r8
  e.Bytes({0x49, 0x89, 0xD0});        // 29: mov r8, rdx
  e.Bytes({0x89, 0xCA});              // 32: mov edx, ecx
  e.Bytes({0x31, 0xC9});              // 34: xor ecx, ecx
  e.Bytes({0x48, 0xB8}).U64(block);   // 36: mov rax, block
  e.Bytes({0x48, 0x8B, 0x40, 0x08});  // 46: mov rax, [rax + 8]
  e.Bytes({0xFF, 0xE0});              // 50: jmp rax
  return code;
}

std::array<std::uint8_t, kDispatcherCodeSize> DispatcherCode(std::uint64_t counter,
                                                             std::uint64_t is_bad_read_ptr) {
  std::array<std::uint8_t, kDispatcherCodeSize> code{};
  Emitter e(code);
  e.Bytes({0x58});                                 //   0: pop rax  (-> method pair)
  e.Bytes({0x53});                                 //   1: push rbx
  e.Bytes({0x56});                                 //   2: push rsi
  e.Bytes({0x48, 0x83, 0xEC, 0x48});               //   3: sub rsp, 48h
  e.Bytes({0x48, 0x89, 0xC3});                     //   7: mov rbx, rax
  e.Bytes({0x48, 0x89, 0xCE});                     //  10: mov rsi, rcx  (hWnd)
  e.Bytes({0x89, 0x54, 0x24, 0x20});               //  13: mov [rsp+20h], edx  (Msg)
  e.Bytes({0xC7, 0x44, 0x24, 0x24}).U32(0);        //  17: mov dword [rsp+24h], 0
  e.Bytes({0x4C, 0x89, 0x44, 0x24, 0x28});         //  25: mov [rsp+28h], r8  (WParam)
  e.Bytes({0x4C, 0x89, 0x4C, 0x24, 0x30});         //  30: mov [rsp+30h], r9  (LParam)
  e.Bytes({0x48, 0xC7, 0x44, 0x24, 0x38}).U32(0);  //  35: mov qword [rsp+38h], 0 (Result)
  e.Bytes({0x48, 0x8B, 0x4B, 0x08});               //  44: mov rcx, [rbx+8]  (object)
  e.Bytes({0xBA}).U32(8);                          //  48: mov edx, 8
  e.Bytes({0x48, 0xB8}).U64(is_bad_read_ptr);      //  53: mov rax, IsBadReadPtr
  e.Bytes({0xFF, 0xD0});                           //  63: call rax
  e.Bytes({0x85, 0xC0});                           //  65: test eax, eax
  e.Bytes({0x75, 0x31});                           //  67: jnz bad (118)
  e.Bytes({0x48, 0xB8}).U64(counter);              //  69: mov rax, counter
  e.Bytes({0xF0, 0x48, 0xFF, 0x00});               //  79: lock inc qword [rax]
  e.Bytes({0x48, 0x8B, 0x4B, 0x08});               //  83: mov rcx, [rbx+8]
  e.Bytes({0x48, 0x89, 0xF2});                     //  87: mov rdx, rsi
  e.Bytes({0x4C, 0x8D, 0x44, 0x24, 0x20});         //  90: lea r8, [rsp+20h]
  e.Bytes({0xFF, 0x13});                           //  95: call [rbx]  (method code)
  e.Bytes({0x48, 0xB8}).U64(counter);              //  97: mov rax, counter
  e.Bytes({0xF0, 0x48, 0xFF, 0x08});               // 107: lock dec qword [rax]
  e.Bytes({0x48, 0x8B, 0x44, 0x24, 0x38});         // 111: mov rax, [rsp+38h]
  e.Bytes({0xEB, 0x02});                           // 116: jmp epilogue (120)
  e.Bytes({0x89, 0xC0});                           // 118: bad: mov eax, eax
  e.Bytes({0x48, 0x83, 0xC4, 0x48});               // 120: add rsp, 48h
  e.Bytes({0x5E});                                 // 124: pop rsi
  e.Bytes({0x5B});                                 // 125: pop rbx
  e.Bytes({0xC3});                                 // 126: ret
  return code;
}

std::array<std::uint8_t, 12> DispatcherUnwindInfo() {
  // Version 1, no handler; prolog of 6 bytes counted from the function start
  // (push rbx ends at 1, push rsi at 2, sub rsp, 48h at 6); codes in reverse.
  return {0x01, 6,
          3,    0x00,
          6,    static_cast<std::uint8_t>(kAllocSmall | ((0x48 / 8 - 1) << 4)),
          2,    static_cast<std::uint8_t>(kPushNonVol | (kRsi << 4)),
          1,    static_cast<std::uint8_t>(kPushNonVol | (kRbx << 4)),
          0,    0};
}

std::array<std::uint8_t, kForwarderCodeSize> ForwarderCode() {
  std::array<std::uint8_t, kForwarderCodeSize> code{};
  Emitter e(code);
  e.Bytes({0x48, 0x83, 0xEC, 0x38});        //  0: sub rsp, 38h
  e.Bytes({0x4C, 0x89, 0x4C, 0x24, 0x20});  //  4: mov [rsp+20h], r9  (lParam, 5th argument)
  e.Bytes({0x4D, 0x89, 0xC1});              //  9: mov r9, r8
  e.Bytes({0x49, 0x89, 0xD0});              // 12: mov r8, rdx
  e.Bytes({0x48, 0x89, 0xCA});              // 15: mov rdx, rcx
  e.Bytes({0x48, 0x89, 0xC1});              // 18: mov rcx, rax
  e.Bytes({0x41, 0xFF, 0xD2});              // 21: call r10
  e.Bytes({0x48, 0x83, 0xC4, 0x38});        // 24: add rsp, 38h
  e.Bytes({0xC3});                          // 28: ret
  return code;
}

std::array<std::uint8_t, 8> ForwarderUnwindInfo() {
  return {0x01, 4, 1, 0x00, 4, static_cast<std::uint8_t>(kAllocSmall | ((0x38 / 8 - 1) << 4)),
          0,    0};
}

void WriteCallForm(std::uint8_t* stub, std::uint64_t dispatcher) {
  stub[0] = 0x48;
  stub[1] = 0xB8;
  WriteU64(stub + kStubTargetOffset, dispatcher);
  stub[kStubFormOffset] = 0xFF;
  stub[kStubFormOffset + 1] = 0xD0;
}

void WriteForwardForm(std::uint8_t* stub, std::uint64_t stub_address, std::uint64_t old_proc,
                      std::uint64_t call_window_proc, std::uint64_t forwarder) {
  std::uint8_t bytes[kStubSize];
  std::memset(bytes, 0xCC, sizeof(bytes));
  bytes[0] = 0x48;  // mov rax, old_proc
  bytes[1] = 0xB8;
  WriteU64(bytes + 2, old_proc);
  bytes[10] = 0x49;  // mov r10, CallWindowProc
  bytes[11] = 0xBA;
  WriteU64(bytes + 12, call_window_proc);
  bytes[20] = 0xE9;  // jmp forwarder
  const auto rel =
      static_cast<std::int64_t>(forwarder) - static_cast<std::int64_t>(stub_address + 25);
  const auto rel32 = static_cast<std::uint32_t>(static_cast<std::int32_t>(rel));
  for (int i = 0; i < 4; ++i) bytes[21 + i] = static_cast<std::uint8_t>(rel32 >> (8 * i));
  // Write the tail first and the first bytes last: a thread entering the stub
  // meanwhile still finds the old first instruction.
  std::memcpy(stub + 2, bytes + 2, sizeof(bytes) - 2);
  stub[0] = bytes[0];
  stub[1] = bytes[1];
}

bool IsCallForm(const std::uint8_t* stub) {
  return stub[kStubFormOffset] == 0xFF && stub[kStubFormOffset + 1] == 0xD0;
}

std::uint64_t ReadU64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, 8);
  return v;
}

void WriteU64(std::uint8_t* p, std::uint64_t value) { std::memcpy(p, &value, 8); }

}  // namespace vm::hooklib::code
