// Status texts come from the library; this wrapper is the one place that asks for them.
#include "common.h"

namespace velta {

// Until the library's own table lands: the library's names for the statuses it produces.
const char *status_text(KV_STATUS status) {
    switch (status) {
        case STATUS_SUCCESS: return "success";
        case STATUS_BAD_HANDLE: return "no such channel";
        case STATUS_NO_DEVICE: return "device did not acknowledge its address";
        case STATUS_IO_FAILURE: return "fewer bytes moved than asked";
        case STATUS_NO_RESOURCES: return "out of memory";
        case STATUS_BAD_PARAMETER: return "bad parameter";
        case STATUS_WRITE_REFUSED: return "data byte not acknowledged";
        case STATUS_UNSUPPORTED: return "not supported";
        case STATUS_FAILURE: return "failure";
        default: return "driver status";
    }
}

}  // namespace velta
