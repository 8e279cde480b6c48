// Forwarding header: the mem_ module's header is vxkernel/base/mem.h. This
// one goes after one release.
#include "vxkernel/base/mem.h"
