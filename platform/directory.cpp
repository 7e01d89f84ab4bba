#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/wide.h"

namespace tove::platform {

struct DirectorySearch {
  DIR* host;                       // kept open for the entries' types
  std::vector<std::string> names;  // in listing order
  size_t next;                     // index of the pending entry
};

namespace {

constexpr size_t kPathLimit = 260;  // 16-bit units of a path, without its NUL

// "." and ".." before every other name, the rest in ascending byte order.
bool listing_order(const std::string& a, const std::string& b) {
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  return a < b;
}

uint32_t entry_type(DIR* host, const std::string& name) {
  struct stat info;
  if (fstatat(dirfd(host), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return kTypeFile;
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return kTypeDevice;
  if (S_ISLNK(info.st_mode)) return kTypeLink;
  if (S_ISDIR(info.st_mode)) return kTypeDirectory;
  return kTypeFile;
}

void fill_unconverted(CrtDirent& entry) {
  std::memset(entry.d_name, 0, sizeof entry.d_name);
  entry.d_name[0] = '?';
  entry.d_namlen = 1;
  entry.d_type = 0;
  entry.d_off = kDirentUnconvertedToken;
  entry.d_reclen = 0;
  entry.d_ino = 0;
}

}  // namespace

uint32_t entry_token(std::string_view name) {
  uint32_t hash = 5381;
  size_t taken = 0;
  for (char16_t unit : to_utf16(name)) {
    if (unit == 0 || taken == kDirentNameLimit) break;
    hash = hash * 33 + unit;
    ++taken;
  }
  return hash & 0x7FFFFFFF;
}

DirectoryStream* open_directory(const char* path) {
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  const std::string_view text(path);
  if (!is_utf8(text)) {
    errno = EILSEQ;
    return nullptr;
  }
  if (to_utf16(text).size() > kPathLimit) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  DIR* host = opendir(path);
  if (host == nullptr) {
    errno = errno == EACCES ? EACCES : errno == ENOTDIR ? ENOTDIR : ENOENT;
    return nullptr;
  }
  auto* search = new (std::nothrow) DirectorySearch{host, {}, 0};
  auto* stream = new (std::nothrow) DirectoryStream{};
  if (search == nullptr || stream == nullptr) {
    delete search;
    delete stream;
    closedir(host);
    errno = ENOMEM;
    return nullptr;
  }
  stream->search = search;
  errno = 0;
  while (const dirent* found = readdir(host)) search->names.emplace_back(found->d_name);
  std::sort(search->names.begin(), search->names.end(), listing_order);
  return stream;
}

CrtDirent* read_directory(DirectoryStream* stream) {
  if (stream == nullptr) return nullptr;
  DirectorySearch& search = *stream->search;
  if (search.next >= search.names.size()) return nullptr;
  const std::string& name = search.names[search.next++];
  CrtDirent& entry = stream->entry;
  if (name.size() > kDirentNameLimit || !is_utf8(name)) {
    fill_unconverted(entry);
    return &entry;
  }
  std::memset(entry.d_name, 0, sizeof entry.d_name);
  std::memcpy(entry.d_name, name.data(), name.size());
  entry.d_namlen = name.size();
  entry.d_type = entry_type(search.host, name);
  entry.d_off = search.next < search.names.size() ? entry_token(search.names[search.next]) : kDirentLastToken;
  entry.d_reclen = kDirentFullLength;
  entry.d_ino = 0;
  return &entry;
}

int close_directory(DirectoryStream* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  closedir(stream->search->host);
  delete stream->search;
  delete stream;
  return 0;
}

}  // namespace tove::platform
