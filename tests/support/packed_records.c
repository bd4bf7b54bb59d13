/* Must not compile: packing changes the records' sizes, which the public headers check. */
#pragma pack(1)
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"

int kv_packed_records(void) { return (int)sizeof(ChannelConfig); }
