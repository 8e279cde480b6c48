// Process facts that the web request parser prints into upload file names.
#include <unistd.h>

#include "port/port.h"

namespace port {

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace port
