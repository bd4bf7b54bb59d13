/**
 * @file kvsim.h
 * @brief Control API of the simulated bridge driver (libkvzubr.so), for tests and tools. Plain C.
 *
 * **Channels are named by their 0-based position in the driver's device list** (the position
 * the driver's `KV_Open` takes), counting every listed channel, also those without an engine.
 * That is neither the SPI/I2C index (from 0) nor the channel-layer index (from 1), which count
 * only engine-carrying channels: on the default board the SPI memory is at position 1 (SPI
 * index 1), the EEPROM at position 2 (I2C index 2), and the quad bridge's first channel at
 * position 5 (SPI index 4, channel-layer index 5).
 *
 * Functions returning int give 0 on success and -1 on a bad argument (unknown channel,
 * device or key, a null pointer, a configuration fault), with one line on standard error.
 * The first call loads the configuration if the driver has not loaded it yet. Calls are
 * serialised inside the simulator, so any thread may make them.
 */
#ifndef KVSIM_H
#define KVSIM_H

#include <stddef.h>
#include <stdint.h>

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @def KVSIM_API
 * @brief Marks a declaration as exported by the simulated driver: on Windows exported from
 *        the DLL while it is built (KVSIM_BUILDING_DRIVER) and imported elsewhere; visible,
 *        everything else being hidden, on other systems.
 */
#if defined(_WIN32)
#if defined(KVSIM_BUILDING_DRIVER)
#define KVSIM_API __declspec(dllexport)
#else
#define KVSIM_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KVSIM_API __attribute__((visibility("default")))
#else
#define KVSIM_API
#endif

/* Statuses of the simulated driver's entry points (besides 0, success). They are chosen
 * apart from libVELTA's own values so a test can tell who refused. libVELTA passes them on
 * unchanged; kvsim_status_text() and VELTA_StatusText() describe them. */
/** @brief Simulated driver status: the handle is not open (closed, unknown or null). */
#define KVSIM_STATUS_BAD_HANDLE 101u    /* handle not open (closed, unknown or null) */
/** @brief Simulated driver status: no channel at that list position. */
#define KVSIM_STATUS_NOT_FOUND 102u     /* no channel at that list position */
/** @brief Simulated driver status: the channel is open already. */
#define KVSIM_STATUS_ALREADY_OPEN 103u  /* the channel is open already */
/** @brief Simulated driver status: a null pointer or a value out of range. */
#define KVSIM_STATUS_BAD_ARGUMENT 104u  /* null pointer or value out of range */
/** @brief Simulated driver status: a bit mode the channel does not offer. */
#define KVSIM_STATUS_UNSUPPORTED 105u   /* bit mode the channel does not offer */
/** @brief Simulated driver status: an unexpected fault inside the simulator. */
#define KVSIM_STATUS_INTERNAL 106u      /* unexpected fault inside the simulator */
/** @brief Simulated driver status, `KV_Write` only: the answer queue (1 MiB) is full, so the
 *  engine stalled; the bytes taken are reported and the rest can be written once the host has
 *  read. */
#define KVSIM_STATUS_QUEUE_FULL 107u    /* answer queue full: the engine stalls until the host reads */
/** @brief Simulated driver status, replaying a recording (KVZUBR_SIM_REPLAY): the call differs
 *  from the recorded one, or comes after the recording's end (or after such a call). */
#define KVSIM_STATUS_REPLAY_MISMATCH 108u /* replay: not the recorded call */
/** @brief Simulated driver status, replaying a recording: the recording cannot be read, or is
 *  cut short or corrupt; every call is refused. */
#define KVSIM_STATUS_BAD_RECORDING 109u   /* replay: the recording is unusable */

/** @brief The driver's entry points, by slot number, for faults and call counts. */
typedef enum kvsim_entry {
    /** Slot 0, `KV_GetLibraryVersion`. */
    KVSIM_GetLibraryVersion = 0,
    /** Slot 1, `KV_CreateDeviceInfoList`. */
    KVSIM_CreateDeviceInfoList,
    /** Slot 2, `KV_GetDeviceInfoList`. */
    KVSIM_GetDeviceInfoList,
    /** Slot 3, `KV_Open`. */
    KVSIM_Open,
    /** Slot 4, `KV_Close`. */
    KVSIM_Close,
    /** Slot 5, `KV_ResetDevice`. */
    KVSIM_ResetDevice,
    /** Slot 6, `KV_Purge`. */
    KVSIM_Purge,
    /** Slot 7, `KV_SetUSBParameters`. */
    KVSIM_SetUSBParameters,
    /** Slot 8, `KV_SetChars`. */
    KVSIM_SetChars,
    /** Slot 9, `KV_SetTimeouts`. */
    KVSIM_SetTimeouts,
    /** Slot 10, `KV_SetLatencyTimer`. */
    KVSIM_SetLatencyTimer,
    /** Slot 11, `KV_SetBitMode`. */
    KVSIM_SetBitMode,
    /** Slot 12, `KV_GetQueueStatus`. */
    KVSIM_GetQueueStatus,
    /** Slot 13, `KV_Read`. */
    KVSIM_Read,
    /** Slot 14, `KV_Write`. */
    KVSIM_Write,
    /** Slot 15, `KV_GetDeviceInfo`. */
    KVSIM_GetDeviceInfo,
    /** The number of entry points; not an entry point. */
    KVSIM_ENTRY_COUNT
} kvsim_entry;

/**
 * @brief Loads a JSON configuration file (docs/simulator.md).
 *
 * Loading replaces every bridge (open handles become invalid) and clears faults, logs and
 * counters; devices start from the state file, or factory state. After a fault no bridges are
 * left.
 * @param[in] path The file.
 * @return 0, or -1 for a null path, an unreadable file or a configuration fault.
 */
KVSIM_API int kvsim_load_config_file(const char *path);
/**
 * @brief Loads a configuration from JSON text, as kvsim_load_config_file() does a file.
 * @param[in] json The configuration text.
 * @return 0, or -1 for null text or a configuration fault.
 */
KVSIM_API int kvsim_load_config_json(const char *json);
/**
 * @brief Loads the configuration named by KVZUBR_SIM_CONFIG again, or the built-in default,
 *        as kvsim_load_config_file() does.
 * @return 0, or -1 for a configuration fault.
 */
KVSIM_API int kvsim_reset(void);
/** @brief The number of channels in the device list, engine-carrying or not.
 * @return The count. */
KVSIM_API unsigned kvsim_channel_count(void);

/**
 * @brief Size of a channel's host-to-engine byte log: every byte `KV_Write` accepted, in
 *        order (the last 64 MiB are kept).
 * @param[in] position The channel's list position.
 * @return Bytes in the log; 0 for an unknown channel.
 */
KVSIM_API size_t kvsim_log_size(unsigned position);
/**
 * @brief Copies the start of a channel's byte log.
 * @param[in] position The channel's list position.
 * @param[out] buffer Receives up to @p capacity bytes.
 * @param[in] capacity Room in @p buffer, in bytes.
 * @return Bytes copied; 0 for an unknown channel or a null buffer.
 */
KVSIM_API size_t kvsim_log_read(unsigned position, uint8_t *buffer, size_t capacity);
/**
 * @brief Empties a channel's byte log.
 * @param[in] position The channel's list position.
 */
KVSIM_API void kvsim_log_clear(unsigned position);

/**
 * @brief Appends bytes to a channel's answer queue, as if the engine had sent them.
 * @param[in] position The channel's list position.
 * @param[in] bytes @p count bytes; may be null when @p count is 0.
 * @param[in] count Bytes to append.
 * @return 0, or -1 for an unknown channel or null bytes.
 */
KVSIM_API int kvsim_queue_answer(unsigned position, const uint8_t *bytes, size_t count);
/**
 * @brief Answer bytes waiting to be read on a channel (what `KV_GetQueueStatus` reports).
 * @param[in] position The channel's list position.
 * @return The count; 0 for an unknown channel.
 */
KVSIM_API size_t kvsim_pending(unsigned position);

/**
 * @brief Plans a fault: an entry point fails with @p status on its nth call from now, on any
 *        channel. Each fault fires once.
 * @param[in] entry The entry point.
 * @param[in] nth 1 for the next call, 2 for the one after, and so on.
 * @param[in] status The non-zero status it returns; the call has no other effect.
 * @return 0, or -1 for an unknown entry, @p nth 0 or @p status 0.
 */
KVSIM_API int kvsim_fail_call(kvsim_entry entry, unsigned nth, KV_STATUS status);
/**
 * @brief Plans a short transfer: the nth `KV_Read` or `KV_Write` from now moves at most
 *        @p count bytes and reports that, with status 0. Fires once.
 * @param[in] entry #KVSIM_Read or #KVSIM_Write.
 * @param[in] nth 1 for the next call, and so on.
 * @param[in] count Most bytes the call moves.
 * @return 0, or -1 for another entry or @p nth 0.
 */
KVSIM_API int kvsim_short_transfer(kvsim_entry entry, unsigned nth, uint32_t count);
/**
 * @brief With echo off the engine swallows unknown command bytes instead of answering 0xFA,
 *        byte, so engine synchronisation (KV_InitChannel()) fails.
 * @param[in] position The channel's list position.
 * @param[in] enabled 0 turns echo off, other values on (the default).
 * @return 0, or -1 for an unknown channel or one without engine.
 */
KVSIM_API int kvsim_set_echo(unsigned position, int enabled);
/**
 * @brief Appends @p count filler bytes (0x00) to a channel's answer queue.
 * @param[in] position The channel's list position.
 * @param[in] count Bytes to append.
 * @return 0, or -1 for an unknown channel.
 */
KVSIM_API int kvsim_flood(unsigned position, size_t count);
/** @brief Drops every planned fault and short transfer. */
KVSIM_API void kvsim_clear_faults(void);
/**
 * @brief Calls made to an entry point since the last load or reset, on all channels.
 * @param[in] entry The entry point.
 * @return The count; 0 for an unknown entry.
 */
KVSIM_API unsigned kvsim_call_count(kvsim_entry entry);

/** @brief Pin state of a channel's engine (kvsim_get_pins()). */
typedef struct kvsim_pins {
    /** Low pins as the engine drives them: levels and directions (1 output). */
    /**@{*/
    uint8_t low_value, low_direction;   /* as the engine drives them */
    /**@}*/
    /** High pins as the engine drives them: levels and directions. */
    /**@{*/
    uint8_t high_value, high_direction;
    /**@}*/
    /** The low pins' levels as the engine reads them (the bus resolved). */
    uint8_t low_levels;                 /* the low pins as the engine reads them */
    /** The last `KV_SetBitMode` mode (2: engine). */
    uint8_t bit_mode;                   /* last KV_SetBitMode mode */
    /** 1 while loopback is on. */
    uint8_t loopback;
    /** 1 while three-phase clocking is on. */
    uint8_t three_phase;
    /** 1 while divide-by-5 is on (base 6 MHz). */
    uint8_t divide_by_5;
    /** Drive-only-zero masks of the low and high pins. */
    /**@{*/
    uint8_t zero_only_low, zero_only_high;
    /**@}*/
    /** The clock divisor: rate = base / (divisor + 1). */
    uint16_t divisor;
    /** 1 while adaptive clocking is on: each clock edge waits for low pin 7 to follow. */
    uint8_t adaptive_clocking;
    /** 1 once a clock edge waits for a clock that never returns; nothing runs until the
     *  engine is reset (`KV_SetBitMode` mode 0, as KV_InitChannel() does). */
    uint8_t stalled;
} kvsim_pins;
/**
 * @brief Reads a channel's pin state.
 * @param[in] position The channel's list position.
 * @param[out] pins Receives the state; all 0 but `bit_mode` on a channel without engine.
 * @return 0, or -1 for an unknown channel or a null pointer.
 */
KVSIM_API int kvsim_get_pins(unsigned position, kvsim_pins *pins);

/**
 * @brief A channel's virtual time, in picoseconds (docs/simulator.md).
 * @param[in] position The channel's list position.
 * @return The time; 0 for an unknown channel or one without engine.
 */
KVSIM_API uint64_t kvsim_time_ps(unsigned position);
/**
 * @brief Moves a channel's virtual time forward, as if the host had waited.
 * @param[in] position The channel's list position.
 * @param[in] picoseconds How far.
 * @return 0, or -1 for an unknown channel or one without engine.
 */
KVSIM_API int kvsim_advance_time(unsigned position, uint64_t picoseconds);

/**
 * @brief Writes a Value Change Dump of a channel's pins from now until stopped or the channel
 *        closes; replaces a trace already running there.
 * @param[in] position The channel's list position.
 * @param[in] path The file to write.
 * @return 0, or -1 for an unknown channel, one without engine, a null path or a file that
 *         cannot be written.
 */
KVSIM_API int kvsim_trace_start(unsigned position, const char *path);
/**
 * @brief Stops and closes a channel's trace, if one runs.
 * @param[in] position The channel's list position.
 * @return 0, or -1 for an unknown channel.
 */
KVSIM_API int kvsim_trace_stop(unsigned position);

/**
 * @brief Adds a device to a channel's bus, from a JSON object as in the configuration file.
 *        Devices are named by the name the configuration gives them (default: the kind).
 * @param[in] position The channel's list position.
 * @param[in] deviceJson The device object.
 * @return 0, or -1 for an unknown channel, null text, or a device the bus refuses.
 */
KVSIM_API int kvsim_attach_device(unsigned position, const char *deviceJson);
/**
 * @brief Reads device data by key ("memory", "frames", "registers", ...; per device in
 *        docs/simulator-spi.md and docs/simulator-i2c.md).
 * @param[in] position The channel's list position.
 * @param[in] device The device's name.
 * @param[in] key The key.
 * @param[out] buffer Receives up to @p capacity bytes; may be null to ask for the size.
 * @param[in] capacity Room in @p buffer, in bytes.
 * @param[out] length Receives the full size, also when the buffer is too small; may be null.
 * @return 0, or -1 for an unknown channel, device or key.
 */
KVSIM_API int kvsim_device_get(unsigned position, const char *device, const char *key, uint8_t *buffer,
                               size_t capacity, size_t *length);
/**
 * @brief Writes device data by key (memory contents from address 0, scripted answers, ...).
 * @param[in] position The channel's list position.
 * @param[in] device The device's name.
 * @param[in] key The key.
 * @param[in] data @p length bytes.
 * @param[in] length Bytes in @p data.
 * @return 0, or -1 for an unknown channel, device or key, or data the device refuses.
 */
KVSIM_API int kvsim_device_put(unsigned position, const char *device, const char *key, const uint8_t *data,
                               size_t length);
/**
 * @brief Changes a numeric device setting by key (write cycle, rotation speed, noise, ...).
 * @param[in] position The channel's list position.
 * @param[in] device The device's name.
 * @param[in] key The key.
 * @param[in] value The new value.
 * @return 0, or -1 for an unknown channel, device or key, or a value out of range.
 */
KVSIM_API int kvsim_device_set(unsigned position, const char *device, const char *key, double value);

/**
 * @brief Writes to the state file now the state of every device that changed since it was
 *        loaded or last saved (this also happens when a channel closes and when the driver is
 *        unloaded), so state another process saved meanwhile is kept.
 * @return 0, or -1 if the file could not be written.
 */
KVSIM_API int kvsim_save_state(void);

/**
 * @brief A short text for one of the KVSIM_STATUS_* codes above. libVELTA's
 *        VELTA_StatusText() looks this up to describe the driver's statuses.
 * @param[in] status Any status.
 * @return Static text, or null for any other status.
 */
KVSIM_API const char *kvsim_status_text(KV_STATUS status);

#ifdef __cplusplus
}
#endif

#endif
