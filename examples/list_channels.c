/* Lists the bridge channels that carry the VELTA engine, one line each, with the 0-based index
 * the SPI and I2C families take. */
#include <stdio.h>

#include "korvin_mid.h"

int main(void) {
    uint32_t count = 0;
    KV_STATUS status = KV_GetNumChannels(PROTOCOL_SPI, &count);
    if (status != STATUS_SUCCESS) {
        printf("Counting channels failed with status %u\n", (unsigned)status);
        return 1;
    }
    printf("VELTA channels found: %u\n", (unsigned)count);
    if (count == 0) return 0;
    printf("%-5s  %-4s  %-16s  %s\n", "index", "type", "serial", "description");
    for (uint32_t index = 0; index < count; ++index) {
        DeviceListEntry entry;
        status = KV_GetChannelInfo(PROTOCOL_SPI, index + 1, &entry);
        if (status != STATUS_SUCCESS) {
            printf("%5u  channel information unavailable (status %u)\n", (unsigned)index, (unsigned)status);
            continue;
        }
        printf("%5u  %4u  %-16.16s  %.64s\n", (unsigned)index, (unsigned)entry.DeviceType, entry.SerialText,
               entry.DescriptionText);
    }
    return 0;
}
