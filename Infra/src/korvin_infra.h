/**
 * @file korvin_infra.h
 * @brief libVELTA infrastructure: the bound driver library and small helpers. Plain C.
 *
 * Loading libVELTA runs its load-time constructor, which calls Init_libVELTA(): the bridge
 * driver "libkvzubr.so" is loaded and its sixteen entry points are looked up. **If the driver
 * cannot be loaded, the process ends**: one line on standard output,
 * `../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered`, then exit
 * status 1, before main() runs (or inside dlopen() for a program that loads libVELTA itself).
 * One more line on standard error names the driver, the loader's reason and the remedy. The
 * environment variable VELTA_DRIVER, when set and not empty, names the driver by its path.
 * Unloading libVELTA releases the driver. Applications need not call anything here.
 */
#ifndef KORVIN_INFRA_H
#define KORVIN_INFRA_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief The driver's entry points, one slot each, filled when libVELTA is loaded.
 *
 * An entry point the driver does not export leaves its slot null; an operation that needs it
 * then fails with #STATUS_FAILURE instead of calling it. Applications never need the table.
 */
typedef struct varFunctionPtrLst_t {
    /** Slot 0, "KV_GetLibraryVersion" (::KV_GetLibraryVersion_t); null when the driver lacks it. */
    KV_GetLibraryVersion_t KV_GetLibraryVersion;
    /** Slot 1, "KV_CreateDeviceInfoList" (::KV_CreateDeviceInfoList_t); null when the driver lacks it. */
    KV_CreateDeviceInfoList_t KV_CreateDeviceInfoList;
    /** Slot 2, "KV_GetDeviceInfoList" (::KV_GetDeviceInfoList_t); null when the driver lacks it. */
    KV_GetDeviceInfoList_t KV_GetDeviceInfoList;
    /** Slot 3, "KV_Open" (::KV_Open_t); null when the driver lacks it. */
    KV_Open_t KV_Open;
    /** Slot 4, "KV_Close" (::KV_Close_t); null when the driver lacks it. */
    KV_Close_t KV_Close;
    /** Slot 5, "KV_ResetDevice" (::KV_ResetDevice_t); null when the driver lacks it. */
    KV_ResetDevice_t KV_ResetDevice;
    /** Slot 6, "KV_Purge" (::KV_Purge_t); null when the driver lacks it. */
    KV_Purge_t KV_Purge;
    /** Slot 7, "KV_SetUSBParameters" (::KV_SetUSBParameters_t); null when the driver lacks it. */
    KV_SetUSBParameters_t KV_SetUSBParameters;
    /** Slot 8, "KV_SetChars" (::KV_SetChars_t); null when the driver lacks it. */
    KV_SetChars_t KV_SetChars;
    /** Slot 9, "KV_SetTimeouts" (::KV_SetTimeouts_t); null when the driver lacks it. */
    KV_SetTimeouts_t KV_SetTimeouts;
    /** Slot 10, "KV_SetLatencyTimer" (::KV_SetLatencyTimer_t); null when the driver lacks it. */
    KV_SetLatencyTimer_t KV_SetLatencyTimer;
    /** Slot 11, "KV_SetBitMode" (::KV_SetBitMode_t); null when the driver lacks it. */
    KV_SetBitMode_t KV_SetBitMode;
    /** Slot 12, "KV_GetQueueStatus" (::KV_GetQueueStatus_t); null when the driver lacks it. */
    KV_GetQueueStatus_t KV_GetQueueStatus;
    /** Slot 13, "KV_Read" (::KV_Read_t); null when the driver lacks it. */
    KV_Read_t KV_Read;
    /** Slot 14, "KV_Write" (::KV_Write_t); null when the driver lacks it. */
    KV_Write_t KV_Write;
    /** Slot 15, "KV_GetDeviceInfo" (::KV_GetDeviceInfo_t); null when the driver lacks it. */
    KV_GetDeviceInfo_t KV_GetDeviceInfo;
} varFunctionPtrLst_t;

/** @brief The loaded driver library as dlopen() returned it; null once Cleanup_libVELTA() released it. */
KV_API extern void *hdll_zubr;
/** @brief The driver's entry points; written only by Init_libVELTA(), read by the channel layer. */
KV_API extern varFunctionPtrLst_t varFunctionPtrLst;

/**
 * @brief Loads the bridge driver "libkvzubr.so" (dlopen, lazy binding) and fills
 *        #varFunctionPtrLst. Called by libVELTA's load-time constructor; applications do not
 *        call it (a second call takes a second reference on the driver that is never released).
 *
 * VELTA_DRIVER, when set and not empty, is the path of the driver to load instead. Otherwise
 * the loader's search rules decide which driver is found: in the build tree the simulated
 * driver beside libVELTA; an installed libVELTA finds the one on the system's library path
 * (LD_LIBRARY_PATH first). On Windows libVELTA.dll loads "libkvzubr.dll" (LoadLibrary and
 * GetProcAddress), found first in the program's directory. A missing entry point leaves its
 * slot null without a word.
 *
 * If the driver cannot be loaded, this prints on standard output
 * `../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered` and ends the
 * process with exit(1), after one line on standard error that names the driver it tried, the
 * loader's reason and the remedy. It does not return an error.
 */
KV_API void Init_libVELTA(void);
/**
 * @brief Releases the driver library (dlclose). Called by libVELTA's unload-time destructor.
 *
 * Applications do not call it: the slots of #varFunctionPtrLst are not cleared, so any
 * channel, SPI or I2C operation made afterwards calls into a library that may be gone.
 * @return 0 when released; dlclose()'s non-zero result when that failed; -1 when no driver was
 *         bound (released already).
 */
KV_API int Cleanup_libVELTA(void);
/**
 * @brief The diagnostic hook every layer calls with a failing status before returning it. It
 *        has no effect: it prints nothing.
 * @param[in] status The failing status; ignored.
 */
KV_API void Infra_DbgPrintStatus(KV_STATUS status);
/**
 * @brief Placeholder for a wait: waits for nothing.
 * @retval STATUS_FAILURE always.
 */
KV_API KV_STATUS Infra_Delay(void);
/**
 * @brief Self-test: writes @p input + 100 to @p output, wrapping at 32 bits.
 * @param[in] input Any value.
 * @param[out] output Receives the result; caller-owned.
 * @retval STATUS_SUCCESS the result was written.
 * @retval STATUS_BAD_PARAMETER @p output is null (nothing printed).
 */
KV_API KV_STATUS Infra_TestFunction(int32_t input, int32_t *output);

#ifdef __cplusplus
}
#endif

#endif
