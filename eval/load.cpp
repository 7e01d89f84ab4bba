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
    case ValueKind::bytes: return byte_string_contents(value);
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
    default: return std::nullopt;
  }
}

namespace {

// Each load inside a load costs native stack: its text's compile, and an
// evaluation whose rewrites may call load again. A chain of loads deeper
// than kMaxLoadNesting, or one that would leave less than
// kLoadStackReserve of native stack to the next level, is refused. The
// reserve holds the compile of a text nested as deeply as the reader
// allows, in every build, the sanitizers' included.
constexpr int kMaxLoadNesting = 1000;
constexpr size_t kLoadStackReserve = size_t{256} << 10;

int g_load_nesting = 0;

struct LoadLevel {
  LoadLevel() { ++g_load_nesting; }
  ~LoadLevel() { --g_load_nesting; }
  LoadLevel(const LoadLevel&) = delete;
  LoadLevel& operator=(const LoadLevel&) = delete;
};

bool another_level_fits() {
  return g_load_nesting < kMaxLoadNesting && platform::native_stack_left() >= kLoadStackReserve;
}

}  // namespace

// What reading and compiling a loaded text counts for against a step
// limit, beyond one step a byte.
constexpr uint64_t kLoadWork = 1000;

// load x = the value of the main expression of the text x, whose
// definitions join the program's; Z for anything wrong with the text, and
// for a load nested too deeply in others.
static CellRef prim_load(CellRef redex) {
  if (!another_level_fits()) return make_refusal();
  const LoadLevel level;
  std::string storage;
  auto [argument] = redex_arguments<1>(redex.get());
  const std::optional<std::string_view> text = load_text_argument(argument, storage);
  if (!text) return make_refusal();
  charge_work(kLoadWork + text->size());
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
