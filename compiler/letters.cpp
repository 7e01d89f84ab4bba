#include "compiler/letters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cells/print.h"
#include "cells/tables.h"
#include "compiler/names.h"
#include "compiler/rewrite.h"

namespace tove {

// The log is shared with whoever else can write to /tmp, so the line goes
// only to a regular file reached without a symbolic link; a FIFO, a device
// or a folder in its place is skipped, and nothing here ever waits. The
// lines hold program text, so a new log is readable by its owner alone; a
// log that exists keeps the mode it has.
void append_log_line(const char* path, std::string_view line) {
  const int fd =
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return;
  }
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    data += written;
    left -= static_cast<size_t>(written);
  }
  TOVE_ASSERT(::close(fd) == 0);
}

bool assign_letters(std::string_view name, CellRef& body, LetterLog log) {
  CellRef long_list = long_binders(body.get());
  CellRef short_list = short_binders(body.get());
  const size_t long_count = name_list_length(long_list.get());
  if (long_count == 0) return true;
  if (log == LetterLog::write && !sandboxed()) {
    append_log_line(kLogPath, "First " + std::string(name) + ": " + print_expression(body.get()) + "\n");
  }
  if (long_count + name_list_length(short_list.get()) > 26) return false;
  bool used[26] = {};
  for (const Cell* rest = short_list.get(); is_pair(rest); rest = pair_right(rest))
    used[atom_text(pair_left(rest))[0] - 'a'] = true;
  std::vector<LetterRename> renames;
  for (const Cell* rest = long_list.get(); is_pair(rest); rest = pair_right(rest)) {
    int letter = 0;
    while (used[letter]) ++letter;
    used[letter] = true;
    renames.emplace_back(std::string(atom_text(pair_left(rest))), static_cast<char>('a' + letter));
  }
  body = rename_locals(body.get(), renames);
  return true;
}

}  // namespace tove
