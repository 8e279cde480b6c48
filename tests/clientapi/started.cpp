// Lets a C test program start the library, as its host would.
#include "vxkernel/runtime/KAt.h"

extern "C" void vxk_test_start(void) { KAt::ProcessStartup(1); }
