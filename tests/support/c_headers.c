/* Every public header must compile as plain C. */
#include "korvin_infra.h"
#include "korvin_mid.h"
#include "korvin_types.h"
#include "kvsim.h"
#include "libVELTA.h"
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"
#include "velta_engine.h"
#include "tq_api.h"

int kv_c_headers_compile(void) { return (int)sizeof(DeviceListEntry) + (int)sizeof(GEN_PARAM); }
