/* A bridge driver with one single-channel bridge that exports every entry point but KV_Write. */
#include <string.h>

#include "korvin_types.h"

static int dummyChannel;

KV_API KV_STATUS KV_GetLibraryVersion(uint32_t *version) {
    *version = 1;
    return 0;
}
KV_API KV_STATUS KV_CreateDeviceInfoList(uint32_t *deviceCount) {
    *deviceCount = 1;
    return 0;
}
KV_API KV_STATUS KV_GetDeviceInfoList(DeviceListEntry *list, uint32_t *deviceCount) {
    memset(list, 0, sizeof *list);
    list->DeviceType = KV_DEVICE_HIGH_SPEED_SINGLE;
    list->Location = 1;
    strcpy(list->SerialText, "P1");
    *deviceCount = 1;
    return 0;
}
KV_API KV_STATUS KV_Open(uint32_t position, KV_HANDLE *handle) {
    if (position != 0) return 2;
    *handle = &dummyChannel;
    return 0;
}
KV_API KV_STATUS KV_Close(KV_HANDLE handle) { return handle == &dummyChannel ? 0 : 1; }
KV_API KV_STATUS KV_ResetDevice(KV_HANDLE handle) { return handle == &dummyChannel ? 0 : 1; }
KV_API KV_STATUS KV_Purge(KV_HANDLE handle, uint32_t mask) { return handle == &dummyChannel && mask == 3 ? 0 : 1; }
KV_API KV_STATUS KV_SetUSBParameters(KV_HANDLE handle, uint32_t inSize, uint32_t outSize) {
    return handle == &dummyChannel && inSize && outSize ? 0 : 1;
}
KV_API KV_STATUS KV_SetChars(KV_HANDLE handle, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return handle == &dummyChannel && !(a | b | c | d) ? 0 : 1;
}
KV_API KV_STATUS KV_SetTimeouts(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs) {
    return handle == &dummyChannel && readMs && writeMs ? 0 : 1;
}
KV_API KV_STATUS KV_SetLatencyTimer(KV_HANDLE handle, uint8_t latencyMs) {
    (void)latencyMs;
    return handle == &dummyChannel ? 0 : 1;
}
KV_API KV_STATUS KV_SetBitMode(KV_HANDLE handle, uint8_t pinMask, uint8_t mode) {
    (void)pinMask;
    (void)mode;
    return handle == &dummyChannel ? 0 : 1;
}
KV_API KV_STATUS KV_GetQueueStatus(KV_HANDLE handle, uint32_t *pending) {
    *pending = 0;
    return handle == &dummyChannel ? 0 : 1;
}
KV_API KV_STATUS KV_Read(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countRead) {
    (void)buffer;
    (void)count;
    *countRead = 0;
    return handle == &dummyChannel ? 0 : 1;
}
KV_API KV_STATUS KV_GetDeviceInfo(KV_HANDLE handle, uint32_t *deviceType, uint32_t *deviceId, char *serial,
                                  char *description, void *reserved) {
    (void)reserved;
    *deviceType = KV_DEVICE_HIGH_SPEED_SINGLE;
    *deviceId = 0;
    strcpy(serial, "P1");
    strcpy(description, "partial");
    return handle == &dummyChannel ? 0 : 1;
}
