// The layout text: the body of the definition "_", which tells programs
// where the fields of the C records the library binding exchanges lie. It
// is computed from the platform layer's record definitions, so the text and
// the records the binding fills cannot disagree.
#pragma once

#include <string>

namespace tove {

// "[" + one description per record + "]". A record is "[" name segments "]";
// a segment is "[" label "[" width "]]", with the field's name as label, or
// an empty label for bytes no field covers.
std::string build_layout_text();

}  // namespace tove
