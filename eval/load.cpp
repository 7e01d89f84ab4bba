#include "eval/load.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "compiler/load.h"
#include "eval/eval.h"
#include "numbers/numbers.h"
#include "platform/platform.h"
#include "prims/family.h"

namespace tove {

namespace {

constexpr std::array<BuiltinSpec, 1> kLoadFamily = {{{"load", 1, prim_load}}};

}  // namespace

std::span<const BuiltinSpec> load_family() { return kLoadFamily; }

std::optional<std::string_view> string_argument(Cell* value, std::string& storage) {
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
CellRef prim_load(CellRef redex) {
  std::string storage;
  const std::optional<std::string_view> text = string_argument(unary_argument(redex.get()), storage);
  if (!text) return make_refusal();
  ErrorReport report;
  CellRef main = load_program_text(*text, report);
  redex.reset();
  if (!main) return make_refusal();
  return evaluate(std::move(main));
}

}  // namespace tove
