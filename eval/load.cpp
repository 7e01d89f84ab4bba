#include "eval/load.h"

#include <cstdint>
#include <string>
#include <utility>

#include "compiler/load.h"
#include "eval/eval.h"
#include "numbers/numbers.h"
#include "platform/platform.h"
#include "prims/family.h"

namespace tove {

std::optional<std::string_view> load_text_argument(Cell* value, std::string& storage) {
  switch (classify_kind(value)) {
    case ValueKind::bytes:
      return byte_string_contents(value);
    case ValueKind::integer: {
      const std::optional<int64_t> address = wrapped_integer(value);
      if (!address) return std::nullopt;
      std::optional<std::string> text = platform::read_c_string(static_cast<uint64_t>(*address));
      if (!text) return std::nullopt;
      storage = std::move(*text);
      return std::string_view(storage);
    }
    case ValueKind::data:
      if (!is_atom(value)) return std::nullopt;  // a data pair is no text literal
      {
        const std::string_view text = atom_text(value);
        return text.substr(1, text.size() - 2);
      }
    default:
      return std::nullopt;
  }
}

// load x = the value of the main expression of the text x, whose
// definitions join the program's; Z for anything wrong with the text.
static CellRef prim_load(CellRef redex) {
  std::string storage;
  auto [argument] = redex_arguments<1>(redex.get());
  const std::optional<std::string_view> text = load_text_argument(argument, storage);
  if (!text) return make_refusal();
  ErrorReport report;
  CellRef main = load_program_text(*text, report);
  redex.reset();
  if (!main) return make_refusal();
  return evaluate(std::move(main));
}

std::span<const BuiltinSpec> load_family() {
  static constexpr BuiltinSpec kMembers[] = {{"load", 1, prim_load, Reach::outside}};
  return kMembers;
}

}  // namespace tove
