/* Control API of the simulated bridge driver, for tests and tools. Plain C.
 *
 * Channels are named by their 0-based position in the driver's device list (the position
 * KV_Open takes). Functions returning int give 0 on success and -1 on a bad argument
 * (unknown channel, device or key), with a message on standard error. */
#ifndef KVSIM_H
#define KVSIM_H

#include <stddef.h>
#include <stdint.h>

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses of the simulated driver's entry points (besides 0, success). They are chosen
 * apart from libVELTA's own values so a test can tell who refused. */
#define KVSIM_STATUS_BAD_HANDLE 101u    /* handle not open (closed, unknown or null) */
#define KVSIM_STATUS_NOT_FOUND 102u     /* no channel at that list position */
#define KVSIM_STATUS_ALREADY_OPEN 103u  /* the channel is open already */
#define KVSIM_STATUS_BAD_ARGUMENT 104u  /* null pointer or value out of range */
#define KVSIM_STATUS_UNSUPPORTED 105u   /* bit mode the channel does not offer */
#define KVSIM_STATUS_INTERNAL 106u      /* unexpected fault inside the simulator */
#define KVSIM_STATUS_QUEUE_FULL 107u    /* answer queue full: the engine stalls until the host reads */

/* Driver entry points, by slot number. */
typedef enum kvsim_entry {
    KVSIM_GetLibraryVersion = 0,
    KVSIM_CreateDeviceInfoList,
    KVSIM_GetDeviceInfoList,
    KVSIM_Open,
    KVSIM_Close,
    KVSIM_ResetDevice,
    KVSIM_Purge,
    KVSIM_SetUSBParameters,
    KVSIM_SetChars,
    KVSIM_SetTimeouts,
    KVSIM_SetLatencyTimer,
    KVSIM_SetBitMode,
    KVSIM_GetQueueStatus,
    KVSIM_Read,
    KVSIM_Write,
    KVSIM_GetDeviceInfo,
    KVSIM_ENTRY_COUNT
} kvsim_entry;

/* Configuration. Loading replaces every bridge (open handles become invalid) and clears
 * faults, logs and counters; devices start from the state file, or factory state. */
KV_API int kvsim_load_config_file(const char *path);
KV_API int kvsim_load_config_json(const char *json);
/* Back to the configuration named by KVZUBR_SIM_CONFIG, or the built-in default. */
KV_API int kvsim_reset(void);
/* Number of channels in the device list. */
KV_API unsigned kvsim_channel_count(void);

/* Host-to-engine byte log of a channel: every byte KV_Write accepted, in order. */
KV_API size_t kvsim_log_size(unsigned position);
KV_API size_t kvsim_log_read(unsigned position, uint8_t *buffer, size_t capacity);
KV_API void kvsim_log_clear(unsigned position);

/* Bytes appended to the channel's answer queue, as if the engine had sent them. */
KV_API int kvsim_queue_answer(unsigned position, const uint8_t *bytes, size_t count);
/* Pending answer bytes of the channel. */
KV_API size_t kvsim_pending(unsigned position);

/* Faults. An entry point fails with status on its nth call from now (1 = the next one);
 * a short transfer makes the nth KV_Read or KV_Write move at most `count` bytes and report
 * that. Each fault fires once. */
KV_API int kvsim_fail_call(kvsim_entry entry, unsigned nth, KV_STATUS status);
KV_API int kvsim_short_transfer(kvsim_entry entry, unsigned nth, uint32_t count);
/* With echo off the engine swallows unknown command bytes instead of answering 0xFA, byte. */
KV_API int kvsim_set_echo(unsigned position, int enabled);
/* Appends `count` filler bytes (0x00) to the answer queue. */
KV_API int kvsim_flood(unsigned position, size_t count);
KV_API void kvsim_clear_faults(void);
/* Calls made to an entry point since the last load or reset. */
KV_API unsigned kvsim_call_count(kvsim_entry entry);

/* Pin state of a channel's engine. */
typedef struct kvsim_pins {
    uint8_t low_value, low_direction;   /* as the engine drives them */
    uint8_t high_value, high_direction;
    uint8_t low_levels;                 /* the low pins as the engine reads them */
    uint8_t bit_mode;                   /* last KV_SetBitMode mode */
    uint8_t loopback;
    uint8_t three_phase;
    uint8_t divide_by_5;
    uint8_t zero_only_low, zero_only_high;
    uint16_t divisor;
} kvsim_pins;
KV_API int kvsim_get_pins(unsigned position, kvsim_pins *pins);

/* Virtual time of a channel, in picoseconds. */
KV_API uint64_t kvsim_time_ps(unsigned position);
KV_API int kvsim_advance_time(unsigned position, uint64_t picoseconds);

/* Value Change Dump of the channel's pins, written from now until stopped or closed. */
KV_API int kvsim_trace_start(unsigned position, const char *path);
KV_API int kvsim_trace_stop(unsigned position);

/* Devices on a channel's bus, by the name the configuration gives them.
 * attach: a device from a JSON object as in the configuration file.
 * get:    device data by key ("memory", "frames", "registers", ...), written to buffer;
 *         *length receives the full size even when the buffer is too small.
 * put:    device data by key (memory contents, scripted answers, ...).
 * set:    a numeric device setting by key (rotation speed, noise, ...). */
KV_API int kvsim_attach_device(unsigned position, const char *deviceJson);
KV_API int kvsim_device_get(unsigned position, const char *device, const char *key,
                            uint8_t *buffer, size_t capacity, size_t *length);
KV_API int kvsim_device_put(unsigned position, const char *device, const char *key,
                            const uint8_t *data, size_t length);
KV_API int kvsim_device_set(unsigned position, const char *device, const char *key, double value);

/* Writes to the state file now the state of every device that changed since it was loaded or
 * last saved (this also happens when a channel closes and when the driver is unloaded), so
 * state another process saved meanwhile is kept. -1 if the file could not be written. */
KV_API int kvsim_save_state(void);

#ifdef __cplusplus
}
#endif

#endif
