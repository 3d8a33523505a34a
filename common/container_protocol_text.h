#pragma once
// The parts of the container protocol that need no window: the size rule of
// the path buffer, the name of its mapping, and the folder reference string
// the container writes into it. Free of windows.h so the same code can be
// built natively and fuzzed; the Win32 side is common/container_protocol.h.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vm::protocol {

// ---- Path buffer -----------------------------------------------------------

inline constexpr std::size_t kPathBufferPage = 4096;

// The largest string length an IPC_PREPAREBUFFER may ask for. The length comes
// from another process, and every request of at least the current size
// replaces the mapping, so an unchecked length lets any sender make an
// Explorer process commit page-file memory of any size. A folder reference is
// two hex digits per byte of the item ID list (at most 64 KiB, a 16-bit size)
// plus four per character of the display name (at most 32767 characters):
// about 260 KiB. 1 MiB leaves room for that with a wide margin.
inline constexpr std::uint64_t kMaxPathBufferRequest = 1u << 20;

enum class PathBufferAction {
  Keep,     // the current buffer (possibly none) already serves
  Replace,  // drop the current mapping and create one of `new_size`
  Refuse,   // the request is beyond kMaxPathBufferRequest; nothing changes
};

struct PathBufferPlan {
  PathBufferAction action = PathBufferAction::Keep;
  std::size_t new_size = 0;  // only for Replace
};

// What a request for a string of `requested` bytes (without terminator) does
// to a buffer of `current_size` bytes: a non-zero request that the buffer
// cannot hold with its terminator gets a new buffer of the next multiple of
// 4096 strictly above the request (4096 -> 8192, 8191 -> 8192, 8192 -> 12288).
PathBufferPlan PlanPathBuffer(std::uint64_t requested, std::size_t current_size);

// "Local\{584223DF-8A02-49D3-BC9A-F8CA43158E7B}_FoliantData_" + the window
// handle in upper-case hex, at least 8 digits.
std::wstring PathBufferNameFor(std::uintptr_t window_handle);

// The string held in a buffer of `size` bytes: everything up to the first 0
// byte. Without a terminator inside the buffer (a writer that overran or a
// hostile one) there is no string.
std::optional<std::string_view> PathBufferString(const char* data, std::size_t size);

// ---- Folder reference --------------------------------------------------------
// "{\pidl=" + hex of the ILSaveToStream bytes + "\Caption=" + hex of the
// display name's UTF-16LE bytes + "}", all hex digits upper case.

// Folder references longer than this are refused: they cannot have come
// through a path buffer.
inline constexpr std::size_t kMaxFolderReferenceLength = kMaxPathBufferRequest;

std::string FormatFolderReference(std::span<const std::uint8_t> id_list_stream,
                                  std::wstring_view caption);

struct FolderReference {
  std::vector<std::uint8_t> id_list_stream;  // as ILSaveToStream wrote it
  std::wstring caption;                      // may be empty
};

// True when the text is meant as a folder reference (it contains "\pidl="),
// as opposed to a plain hex path.
bool LooksLikeFolderReference(std::string_view text);

// Reads a folder reference. Entry names are compared case-insensitively and
// may come in either order; hex digits may be of either case. Refused (no
// value) when the braces are missing, an entry has no "=", "pidl" or
// "Caption" is missing or given twice, a value has an odd number of digits or
// a non-hex character, the caption is not whole UTF-16 characters, or the
// text is longer than kMaxFolderReferenceLength. Other entries are ignored.
std::optional<FolderReference> ParseFolderReference(std::string_view text);

// The item ID list in a stream written by ILSaveToStream: a 16-bit length L,
// then L bytes of items (each a 16-bit size of at least 2 that includes the
// size field). Some systems count the 2-byte terminator in L and write it,
// others leave it out; both are accepted. Returns the list's bytes with its
// terminator, ready to copy into an ITEMIDLIST. Refused when an item runs past
// L, an item size is 1, bytes follow the terminator, or the stream is longer
// or shorter than 2 + L.
std::optional<std::vector<std::uint8_t>> ItemIdListFromStream(std::span<const std::uint8_t> stream);

// Hex helpers shared by the writer and the reader.
std::string HexUpper(std::span<const std::uint8_t> bytes);
std::optional<std::vector<std::uint8_t>> DecodeHex(std::string_view hex);

}  // namespace vm::protocol
