/* libVELTA channel and engine layer: channel discovery, engine set-up, command transport, GPIO.
 * Plain C. Channel indexes here count the engine-carrying channels from 1. */
#ifndef KORVIN_MID_H
#define KORVIN_MID_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Channel discovery and access */
KV_API KV_STATUS KV_GetNumChannels(BusProtocol protocol, uint32_t *channelCount);
KV_API KV_STATUS KV_GetChannelInfo(BusProtocol protocol, uint32_t index, DeviceListEntry *info);
KV_API KV_STATUS KV_OpenChannel(BusProtocol protocol, uint32_t index, KV_HANDLE *handle);
KV_API KV_STATUS KV_CloseChannel(BusProtocol protocol, KV_HANDLE handle);
KV_API int Mid_CheckVELTAAvailable(DeviceListEntry entry);
KV_API KV_STATUS Mid_GetKvDeviceType(KV_HANDLE handle, uint32_t *deviceType);

/* Engine initialisation: after the handle come clockRate (Hz), latencyTimer (ms) and options,
 * each a uint32_t. */
KV_API KV_STATUS KV_InitChannel(BusProtocol protocol, KV_HANDLE handle, ...);
KV_API KV_STATUS Mid_ResetDevice(KV_HANDLE handle);
KV_API KV_STATUS Mid_PurgeDevice(KV_HANDLE handle);
KV_API KV_STATUS Mid_SetUSBParameters(KV_HANDLE handle, uint32_t inSize, uint32_t outSize);
KV_API KV_STATUS Mid_SetDeviceSpecialChar(KV_HANDLE handle, uint32_t eventChar, uint32_t eventEnable,
                                          uint32_t errorChar, uint32_t errorEnable);
KV_API KV_STATUS Mid_SetDeviceTimeOut(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs);
KV_API KV_STATUS Mid_SetLatencyTimer(KV_HANDLE handle, uint32_t latency);
KV_API KV_STATUS Mid_ResetVELTA(KV_HANDLE handle);
KV_API KV_STATUS Mid_EnableVELTAIn(KV_HANDLE handle);
KV_API KV_STATUS Mid_SetDeviceLoopbackState(KV_HANDLE handle, uint8_t state);
KV_API KV_STATUS Mid_SetClock(KV_HANDLE handle, uint32_t deviceType, uint32_t clockRate);
KV_API KV_STATUS Mid_EmptyDeviceInputBuff(KV_HANDLE handle);
KV_API KV_STATUS Mid_SyncVELTA(KV_HANDLE handle);
KV_API KV_STATUS Mid_SendReceiveCmdFromVELTA(KV_HANDLE handle, uint8_t resendFlag, uint8_t command,
                                             uint8_t *echoSeen);

/* Command transport and GPIO */
KV_API KV_STATUS KV_Channel_Write(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount,
                                  uint8_t *buffer, uint32_t *bytesDone);
KV_API KV_STATUS KV_Channel_Read(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount,
                                 uint8_t *buffer, uint32_t *bytesDone);
KV_API KV_STATUS Mid_SetGPIOLow(KV_HANDLE handle, uint8_t value, uint8_t direction);
KV_API KV_STATUS KV_WriteGPIO(KV_HANDLE handle, uint8_t direction, uint8_t value);
KV_API KV_STATUS KV_ReadGPIO(KV_HANDLE handle, uint8_t *value);

#ifdef __cplusplus
}
#endif

#endif
