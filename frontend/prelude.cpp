// The prelude: the single-letter combinators and the meaning of every
// operator character, compiled into the definition table at start-up.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

// A comma, then the definitions separated by commas. Each is
// name\p1\p2...\body; an operator's name stands in square brackets.
constexpr std::string_view kPreludeSource =
    ","
    "A\\a\\aS BKK,"
    "B\\a\\b\\c\\a b(c),"
    "C\\a\\b\\c\\a c b,"
    "D\\a\\b\\c\\d\\a b c(d),"
    "E\\a\\b\\c\\d\\e\\a b c(d)e,"
    "F\\a\\b\\Vb a,"
    "G\\a\\VZ BW(BC)DDV(V XJ),"
    "H\\a\\I,"
    "I\\a\\a,"
    "J\\a\\b\\c\\Va b,"
    "K\\a\\b\\a,"
    "L\\a\\aK K(KH),"
    "M\\a\\a a,"
    "N\\a\\K,"
    "O\\a\\b\\b a(b),"
    "P\\a\\a XS I,"
    "Q\\a\\aZK,"
    "R\\a\\aZH,"
    "U\\a\\b\\Ua,"
    "S\\a\\b\\c\\a c b(c),"
    "T\\a\\b\\b a,"
    "V\\a\\b\\c\\c a b,"
    "W\\a\\b\\a b b,"
    "Z\\a\\Z,"
    "X\\a\\b\\c\\d\\Vb a(d)c,"
    "Y\\a\\b\\a Ya b,"
    "[\\]\\a\\b\\c\\ABCDEFGHIJKLMNOPQRSTUVWXYZ,"
    "[{]\\a\\b\\c\\Z,"
    "[&]\\q\\r\\q r H,"
    "[|]\\q\\r\\qKr,"
    "[!]\\VHK,"
    "[+]\\plus,[-]\\dash,[*]\\mult,[/]\\over,[%]\\cent,[^]\\powa,[<]\\less,[>]\\gteq,"
    "[=]\\same,[#]\\diff,[$]\\buck,[~]\\wave,[.]\\T,[@]\\T,[:]\\I,[?]\\I,[;]\\I,[']\\I,"
    "[\"]\\I,[,]\\I";
static_assert(kPreludeSource.size() == 554);

const std::string_view kPreludeText = kPreludeSource;

void load_prelude() {
  definitions().clear();
  uncached_names().clear();
  builtin_table().clear();
  prelude_snapshot().clear();
  register_builtins();

  const std::string text = normalise_text(kPreludeText);
  const std::vector<ProgramPiece> pieces = split_program(text);
  // The empty text before the first comma is no definition; every other
  // piece is name\body with a definable, plain name.
  for (size_t k = 1; k < pieces.size(); ++k) {
    std::optional<Definition> definition = parse_definition(pieces[k].text);
    TOVE_ASSERT(definition && !definition->uncached && is_definable_name(definition->name));
    const std::string key = normalized_name(definition->name);
    store_definition(definitions(), uncached_names(), key, std::move(*definition));
  }
  prelude_snapshot().copy_from(definitions());
}

}  // namespace tove
