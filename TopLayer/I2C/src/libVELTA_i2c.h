/* libVELTA I2C master. Plain C. I2C channel indexes count from 0. */
#ifndef LIBVELTA_I2C_H
#define LIBVELTA_I2C_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* configOptions */
#define I2C_CFG_NO_THREE_PHASE 0x01u  /* keep three-phase data clocking off, rate unscaled */
#define I2C_CFG_DRIVE_ZERO_ONLY 0x02u /* SCL and SDA only pull low (high-speed single-channel bridge) */

/* transfer options */
#define I2C_OPT_START 0x01u
#define I2C_OPT_STOP 0x02u
#define I2C_OPT_ABORT_ON_NACK 0x04u
#define I2C_OPT_NACK_FINAL_BYTE 0x08u
#define I2C_OPT_FAST_BYTES 0x10u
#define I2C_OPT_FAST_BITS 0x20u
#define I2C_OPT_SKIP_ADDRESS 0x40u

typedef struct I2CChannelConfig_t {
    uint32_t ClockRate;
    uint8_t LatencyTimer;
    uint32_t configOptions;
} I2CChannelConfig;

KV_API KV_STATUS I2C_GetNumChannels(uint32_t *numChannels);
KV_API KV_STATUS I2C_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo);
KV_API KV_STATUS I2C_OpenChannel(uint32_t index, KV_HANDLE *handle);
KV_API KV_STATUS I2C_InitChannel(KV_HANDLE handle, I2CChannelConfig *config);
KV_API KV_STATUS I2C_CloseChannel(KV_HANDLE handle);
KV_API KV_STATUS I2C_SaveChannelConfig(KV_HANDLE handle, I2CChannelConfig *config);
KV_API KV_STATUS I2C_GetChannelConfig(KV_HANDLE handle, I2CChannelConfig *config);

KV_API KV_STATUS I2C_Start(KV_HANDLE handle);
KV_API KV_STATUS I2C_Stop(KV_HANDLE handle);
KV_API KV_STATUS I2C_WriteDeviceAddress(KV_HANDLE handle, uint32_t deviceAddress, uint8_t read,
                                        uint8_t addressLen10bit, uint8_t *ack);
KV_API KV_STATUS I2C_Write8bitsAndGetAck(KV_HANDLE handle, uint8_t data, uint8_t *ack);
KV_API KV_STATUS I2C_Read8bitsAndGiveAck(KV_HANDLE handle, uint8_t *data, uint8_t ack);

KV_API KV_STATUS I2C_DeviceWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                 uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options);
KV_API KV_STATUS I2C_DeviceRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options);
KV_API KV_STATUS I2C_FastWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                               uint8_t *buffer, uint8_t *ackBuffer, uint32_t *sizeTransferred,
                               uint32_t options);
KV_API KV_STATUS I2C_FastRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                              uint8_t *buffer, uint8_t *unused, uint32_t *sizeTransferred,
                              uint32_t options);

#ifdef __cplusplus
}
#endif

#endif
