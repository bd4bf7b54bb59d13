/* libVELTA SPI master. Plain C. SPI channel indexes count from 0. */
#ifndef LIBVELTA_SPI_H
#define LIBVELTA_SPI_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* configOptions */
#define SPI_CFG_MODE_BITS 0x03u      /* SPI mode 0..3; bit 1 = clock idles high */
#define SPI_CFG_CS_PIN_BITS 0x1Cu    /* chip-select selector n: low pin 3 + n, n = 0..4 */
#define SPI_CFG_CS_ACTIVE_LOW 0x20u  /* chip-select driven low while asserted */

/* transfer options */
#define SPI_XFER_IN_BITS 0x01u            /* length counts bits, not bytes */
#define SPI_XFER_CS_ASSERT_AT_START 0x02u
#define SPI_XFER_CS_RELEASE_AT_END 0x04u

typedef struct ChannelConfig_t {
    uint32_t ClockRate;
    uint8_t LatencyTimer;
    uint32_t configOptions;
    uint32_t Pin;      /* initial direction, initial value, final direction, final value (low to high byte) */
    uint16_t reserved; /* written by the library: current low-pin state, direction low byte, value high byte */
} ChannelConfig;

KV_API KV_STATUS SPI_GetNumChannels(uint32_t *numChannels);
KV_API KV_STATUS SPI_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo);
KV_API KV_STATUS SPI_OpenChannel(uint32_t index, KV_HANDLE *handle);
KV_API KV_STATUS SPI_InitChannel(KV_HANDLE handle, ChannelConfig *config);
KV_API KV_STATUS SPI_ChangeCS(KV_HANDLE handle, uint32_t configOptions);
KV_API KV_STATUS SPI_CloseChannel(KV_HANDLE handle);
KV_API KV_STATUS SPI_GetChannelConfig(KV_HANDLE handle, ChannelConfig **config);
KV_API KV_STATUS SPI_SaveChannelConfig(KV_HANDLE handle, ChannelConfig *config);
KV_API KV_STATUS SPI_AddChannelConfig(KV_HANDLE handle);
KV_API KV_STATUS SPI_DelChannelConfig(KV_HANDLE handle);
KV_API KV_STATUS SPI_DisplayList(void);

KV_API KV_STATUS SPI_Write(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer,
                           uint32_t *sizeTransferred, uint32_t transferOptions);
KV_API KV_STATUS SPI_Read(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer,
                          uint32_t *sizeTransferred, uint32_t transferOptions);
KV_API KV_STATUS SPI_ReadWrite(KV_HANDLE handle, uint8_t *inBuffer, uint8_t *outBuffer,
                               uint32_t sizeToTransfer, uint32_t *sizeTransferred,
                               uint32_t transferOptions);
KV_API KV_STATUS SPI_Write8bits(KV_HANDLE handle, uint8_t data, uint8_t numBits);
KV_API KV_STATUS SPI_Read8bits(KV_HANDLE handle, uint8_t *data, uint8_t numBits);
KV_API KV_STATUS SPI_ToggleCS(KV_HANDLE handle, uint8_t state);
KV_API KV_STATUS SPI_IsBusy(KV_HANDLE handle, uint8_t *busy);

#ifdef __cplusplus
}
#endif

#endif
