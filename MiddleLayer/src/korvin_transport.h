// Library-internal: the channel layer's write with the one detail its public form leaves out.
#ifndef KORVIN_TRANSPORT_H
#define KORVIN_TRANSPORT_H

#include "korvin_types.h"

// KV_Channel_Write(), telling through `cutShort` (when not null) whether the driver reported
// success having taken fewer bytes than asked, which is then STATUS_IO_FAILURE. A caller that
// announced a length to the engine can complete what the engine still waits for.
KV_STATUS Mid_WriteChannel(KV_HANDLE handle, uint32_t byteCount, const uint8_t *buffer, uint32_t *bytesDone,
                           bool *cutShort);

#endif
