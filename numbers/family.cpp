#include "numbers/family.h"

namespace tove {

std::span<const BuiltinSpec> number_family() {
  static const std::vector<BuiltinSpec> members =
      join_members({arithmetic_members(), comparison_members(), real_conversion_members()});
  return members;
}

}  // namespace tove
