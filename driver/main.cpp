#include "driver/driver.h"
#include "platform/platform.h"

// Output that could not be written fails the run, whatever the program's
// result was.
int main(int argc, char** argv) { return tove::platform::finish_output(tove::run_driver(argc, argv)); }
