#include "numbers/family.h"

#include <array>

namespace tove {

namespace {

constexpr std::array<BuiltinSpec, 15> kNumberFamily = {{
    {"plus", 2, plus_handler},
    {"dash", 2, dash_handler},
    {"mult", 2, mult_handler},
    {"over", 2, over_handler},
    {"cent", 2, cent_handler},
    {"powa", 2, powa_handler},
    {"wave", 1, wave_handler},
    {"less", 2, less_handler},
    {"gteq", 2, gteq_handler},
    {"same", 2, same_handler},
    {"diff", 2, diff_handler},
    {"cmpr", 2, cmpr_handler},
    {"real", 1, real_handler},
    {"rank", 1, rank_handler},
    {"buck", 1, buck_handler},
}};

}  // namespace

std::span<const BuiltinSpec> number_family() { return kNumberFamily; }

}  // namespace tove
