/* Types shared by libVELTA, its applications and the bridge driver. Plain C. */
#ifndef KORVIN_TYPES_H
#define KORVIN_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KV_API __attribute__((visibility("default")))
#else
#define KV_API
#endif

typedef uint32_t KV_STATUS;
typedef void *KV_HANDLE;

#define STATUS_SUCCESS 0u
#define STATUS_BAD_HANDLE 1u
#define STATUS_NO_DEVICE 2u
#define STATUS_IO_FAILURE 4u
#define STATUS_NO_RESOURCES 5u
#define STATUS_BAD_PARAMETER 6u
#define STATUS_WRITE_REFUSED 10u
#define STATUS_UNSUPPORTED 17u
#define STATUS_FAILURE 18u

typedef enum BusProtocol { PROTOCOL_SPI = 0, PROTOCOL_I2C = 1 } BusProtocol;

/* Bridge device-type codes. */
#define KV_DEVICE_FULL_SPEED_DUAL 4u
#define KV_DEVICE_HIGH_SPEED_DUAL 6u
#define KV_DEVICE_HIGH_SPEED_QUAD 7u
#define KV_DEVICE_HIGH_SPEED_SINGLE 8u

/* One channel as the driver lists it; the driver fills it, so the layout is fixed. */
typedef struct DeviceListEntry_t {
    uint32_t StateFlags;
    uint32_t DeviceType;
    uint32_t DeviceId;
    uint32_t Location; /* low four bits: channel position in its device, 1 for the first */
    char SerialText[16];
    char DescriptionText[64];
    KV_HANDLE OpenHandle;
} DeviceListEntry;

/* The driver's sixteen entry points, in the order of libVELTA's slot table. */
typedef KV_STATUS (*KV_GetLibraryVersion_t)(uint32_t *version);
typedef KV_STATUS (*KV_CreateDeviceInfoList_t)(uint32_t *deviceCount);
typedef KV_STATUS (*KV_GetDeviceInfoList_t)(DeviceListEntry *list, uint32_t *deviceCount);
typedef KV_STATUS (*KV_Open_t)(uint32_t position, KV_HANDLE *handle);
typedef KV_STATUS (*KV_Close_t)(KV_HANDLE handle);
typedef KV_STATUS (*KV_ResetDevice_t)(KV_HANDLE handle);
typedef KV_STATUS (*KV_Purge_t)(KV_HANDLE handle, uint32_t mask);
typedef KV_STATUS (*KV_SetUSBParameters_t)(KV_HANDLE handle, uint32_t inSize, uint32_t outSize);
typedef KV_STATUS (*KV_SetChars_t)(KV_HANDLE handle, uint8_t eventChar, uint8_t eventEnable,
                                   uint8_t errorChar, uint8_t errorEnable);
typedef KV_STATUS (*KV_SetTimeouts_t)(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs);
typedef KV_STATUS (*KV_SetLatencyTimer_t)(KV_HANDLE handle, uint8_t latencyMs);
typedef KV_STATUS (*KV_SetBitMode_t)(KV_HANDLE handle, uint8_t pinMask, uint8_t mode);
typedef KV_STATUS (*KV_GetQueueStatus_t)(KV_HANDLE handle, uint32_t *pending);
typedef KV_STATUS (*KV_Read_t)(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countRead);
typedef KV_STATUS (*KV_Write_t)(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countWritten);
typedef KV_STATUS (*KV_GetDeviceInfo_t)(KV_HANDLE handle, uint32_t *deviceType, uint32_t *deviceId,
                                        char *serial, char *description, void *reserved);

#ifdef __cplusplus
}
#endif

#endif
