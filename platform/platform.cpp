#include "platform/platform.h"

namespace tove::platform {

void set_default_binary_mode() {}

int start_socket_library() { return 0; }

}  // namespace tove::platform
