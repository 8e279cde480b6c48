#include "text/text_settings.h"

namespace vxk_internal {

std::atomic<uint32_t> gIntlSettings{0};

}  // namespace vxk_internal
