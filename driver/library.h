// The library options of the command line: `-l NAME` links the library
// NAME.tv, `-L DIR` adds a folder to search for libraries. Both may be
// given several times, before the program file, `-` or `-i`.
//
// A library NAME is the file NAME.tv of the first folder that holds one, in
// this order: the -L folders in the order given, then the installed library
// folder (share/tove/lib beside the bin folder of the running executable),
// then the lib folder of the source tree the interpreter was built from, so
// that a build runs its libraries without installing them.
//
// Ownership: the options keep the command line's strings until the
// libraries are read; the library texts go to the library table of
// compiler/library.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tove {

enum class LibraryOption : uint8_t {
  none,   // argv[index] is not a library option
  taken,  // the option (and its operand) is recorded; index is past it
  bad,    // -l or -L without an operand
};

// Takes the library option at argv[index], if it is one: «-l NAME»,
// «-lNAME», «-L DIR» or «-LDIR».
LibraryOption take_library_option(int argc, char** argv, int& index);

// The folders searched for libraries, in search order.
std::vector<std::string> library_folders();

// Reads every library named by -l, in the order given. Returns 0, or the
// exit status after writing what went wrong: 1 with one line on standard
// error for a library no folder holds or whose file cannot be read, the
// failure status with the reader's report for a text the reader refuses.
int link_libraries();

}  // namespace tove
