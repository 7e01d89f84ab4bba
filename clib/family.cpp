#include "clib/family.h"

#include <vector>

namespace tove::clib {

std::span<const BuiltinSpec> c_library_family() {
  static const std::vector<BuiltinSpec> members =
      join_members({process_members(), stream_members(), text_members(), memory_members(),
                    directory_members(), socket_members()});
  return members;
}

}  // namespace tove::clib
