#include "driver/driver.h"

#include <cstdio>

#include "platform/platform.h"

namespace tove {

int run_driver(int argc, char** argv) {
  platform::set_default_binary_mode();
  if (int code = platform::start_socket_library(); code != 0) {
    std::printf("WSAStartup failed: %d\n", code);
    return -1;
  }
  TOVE_ASSERT(argc >= 1);
  if (argc == 1) {
    std::fputs("Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace tove
