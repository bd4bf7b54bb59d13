/* libVELTA infrastructure: the bound driver library and small helpers. Plain C. */
#ifndef KORVIN_INFRA_H
#define KORVIN_INFRA_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The driver's entry points, one slot each, filled when libVELTA is loaded. */
typedef struct varFunctionPtrLst_t {
    KV_GetLibraryVersion_t KV_GetLibraryVersion;
    KV_CreateDeviceInfoList_t KV_CreateDeviceInfoList;
    KV_GetDeviceInfoList_t KV_GetDeviceInfoList;
    KV_Open_t KV_Open;
    KV_Close_t KV_Close;
    KV_ResetDevice_t KV_ResetDevice;
    KV_Purge_t KV_Purge;
    KV_SetUSBParameters_t KV_SetUSBParameters;
    KV_SetChars_t KV_SetChars;
    KV_SetTimeouts_t KV_SetTimeouts;
    KV_SetLatencyTimer_t KV_SetLatencyTimer;
    KV_SetBitMode_t KV_SetBitMode;
    KV_GetQueueStatus_t KV_GetQueueStatus;
    KV_Read_t KV_Read;
    KV_Write_t KV_Write;
    KV_GetDeviceInfo_t KV_GetDeviceInfo;
} varFunctionPtrLst_t;

KV_API extern void *hdll_zubr;
KV_API extern varFunctionPtrLst_t varFunctionPtrLst;

KV_API void Init_libVELTA(void);
KV_API int Cleanup_libVELTA(void);
KV_API void Infra_DbgPrintStatus(KV_STATUS status);
KV_API KV_STATUS Infra_Delay(void);
KV_API KV_STATUS Infra_TestFunction(int32_t input, int32_t *output);

#ifdef __cplusplus
}
#endif

#endif
