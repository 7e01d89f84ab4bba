// Directory reading with the runtime's `opendir`, `readdir` and `closedir`
// over the host's own directory reader.
//
// Layout: a stream is a heap `DirectoryStream` whose first member is the
// 296-byte entry record a program reads field by field, so the stream's
// address is also the address of the entry `readdir` fills:
//
//   offset  width  field
//        0      4  d_ino     always 0
//        4      4  d_off     position token of the following entry
//        8      2  d_reclen  296, or 0 for a name that cannot be converted
//       10      6  (gap, never written)
//       16      8  d_namlen  length of d_name in bytes
//       24      4  d_type    0x2000 device, 0xC000 symbolic link (reparse
//                            point), 0x4000 directory, 0x8000 anything else,
//                            0 for a name that cannot be converted
//       28    261  d_name    NUL-terminated name
//      289      7  (gap, never written)
//
// The stream further points to its search state: the host's open directory
// and every name in it, read once at open and put in the order a listing
// keeps on every run ("." and ".." first, then ascending byte order).
//
// Ownership: `open_directory` allocates the stream and its search state;
// `close_directory` frees both and closes the host's directory. Nothing
// else owns them; a program that never closes a stream leaks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace tove::platform {

struct CrtDirent {
  uint32_t d_ino;
  uint32_t d_off;
  uint16_t d_reclen;
  uint8_t gap_after_reclen[6];
  uint64_t d_namlen;
  uint32_t d_type;
  char d_name[261];
  uint8_t gap_after_name[7];
};
static_assert(sizeof(CrtDirent) == 296, "the runtime's directory entry record is 296 bytes");
static_assert(offsetof(CrtDirent, d_off) == 4);
static_assert(offsetof(CrtDirent, d_reclen) == 8);
static_assert(offsetof(CrtDirent, d_namlen) == 16);
static_assert(offsetof(CrtDirent, d_type) == 24);
static_assert(offsetof(CrtDirent, d_name) == 28);

inline constexpr size_t kDirentNameLimit = 260;                  // bytes of a name, without its NUL
inline constexpr uint32_t kDirentFullLength = 296;               // d_reclen of a normal entry
inline constexpr uint32_t kDirentLastToken = 2147483647;         // d_off of the last entry
inline constexpr uint32_t kDirentUnconvertedToken = 0xFFFFFFFF;  // d_off of a "?" entry

// d_type values: the attribute bits of the platform the language comes from.
inline constexpr uint32_t kTypeDevice = 0x2000;
inline constexpr uint32_t kTypeLink = 0xC000;
inline constexpr uint32_t kTypeDirectory = 0x4000;
inline constexpr uint32_t kTypeFile = 0x8000;

struct DirectorySearch;

struct DirectoryStream {
  CrtDirent entry;  // first: the stream's address is the entry's
  DirectorySearch* search;
};
static_assert(std::is_standard_layout_v<DirectoryStream>);
static_assert(offsetof(DirectoryStream, entry) == 0);

// opendir: the stream, or null with errno ENOENT for a null or empty or
// missing path, EACCES when access is denied, ENOTDIR for a path that is
// not a directory, ENAMETOOLONG for a path of more than 260 characters,
// EILSEQ for a path that is not valid UTF-8.
DirectoryStream* open_directory(const char* path);
// readdir: the stream's entry record filled with the next entry, or null at
// the end and for a null stream.
CrtDirent* read_directory(DirectoryStream* stream);
// closedir: 0, or -1 with errno EBADF for a null stream.
int close_directory(DirectoryStream* stream);

// The position token of an entry: 5381, then for each 16-bit unit of the
// name (at most 260) times 33 plus the unit, in 32-bit arithmetic; the low
// 31 bits. A byte that is not part of valid UTF-8 counts as U+FFFD.
uint32_t entry_token(std::string_view name);

}  // namespace tove::platform
