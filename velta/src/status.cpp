// The one place that turns statuses into text: the library's own table.
#include "common.h"
#include "libVELTA.h"

namespace velta {

const char *status_text(KV_STATUS status) { return VELTA_StatusText(status); }

}  // namespace velta
