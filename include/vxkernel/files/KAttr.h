// Forwarding header: KAttr's header is vxkernel/locale/KAttr.h. This one
// goes after one release.
#include "vxkernel/locale/KAttr.h"
