// Decimal text <-> binary bytes through the big integer engine, whose
// conversions are subquadratic.
#include <string>
#include <string_view>

#include "numbers/bigint.h"
#include "numbers/numbers.h"

namespace tove {

std::string decimal_to_binary(std::string_view digits) {
  if (digits.empty()) return {};
  return BigInt::from_decimal(digits).to_binary_bytes();
}

std::string binary_to_decimal(std::string_view bytes) {
  return BigInt::from_binary_bytes(bytes).to_decimal();
}

}  // namespace tove
