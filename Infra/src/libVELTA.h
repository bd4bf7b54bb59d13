/**
 * @file libVELTA.h
 * @brief libVELTA's version and the texts of its statuses. Plain C.
 */
/**
 * @mainpage libVELTA reference
 *
 * libVELTA makes an SPI master or an I2C master of a USB bridge channel that carries the
 * VELTA serial engine. It reaches the bridge only through the bridge driver "libkvzubr.so",
 * which it loads when it is itself loaded; the project's simulated driver stands in for it.
 *
 * | Header | Family |
 * |---|---|
 * | libVELTA_spi.h | SPI master: `SPI_` operations, ::ChannelConfig |
 * | libVELTA_i2c.h | I2C master: `I2C_` operations, ::I2CChannelConfig |
 * | korvin_mid.h | channel layer: `KV_` channel, transport and GPIO operations, `Mid_` engine steps |
 * | korvin_types.h | statuses, ::KV_HANDLE, ::DeviceListEntry, the driver's entry points |
 * | korvin_infra.h | driver loading, diagnostic hook |
 * | libVELTA.h | version, status texts |
 * | velta_engine.h | engine command bytes, shift bits, pin roles |
 * | tq_api.h | TQlib, the Torqa sensor library over the SPI family |
 * | kvsim.h | control API of the simulated bridge driver |
 *
 * Guides with complete examples: docs/spi.md, docs/i2c.md, docs/channel-layer.md.
 *
 * @section rules Rules that hold everywhere
 *
 * - **Loading.** Loading libVELTA loads the driver. With no driver to load, the process prints
 *   `../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered` on standard
 *   output, a line on standard error that says why and what to do, and ends with exit status 1,
 *   during the load (see Init_libVELTA()). `VELTA_DRIVER` names the driver by its path.
 * - **Index bases.** The SPI and I2C families number channels from 0. The channel layer
 *   (`KV_GetChannelInfo`, `KV_OpenChannel`) numbers them from 1. Both count only the channels
 *   that carry the engine, in the driver's list order.
 * - **Statuses.** Every operation returns a ::KV_STATUS: 0 on success, else the first failure.
 *   libVELTA's own values are the `STATUS_` macros of korvin_types.h; any other value is the
 *   driver's, passed on unchanged. VELTA_StatusText() describes any of them.
 * - **Null pointers.** Every pointer parameter of every `SPI_`, `I2C_` and `KV_` operation is
 *   checked before anything is sent. The SPI and I2C channel and transfer operations listed
 *   in their headers report a null pointer (or a null handle) with one line on **standard
 *   output**, `<source path>:<line>:<operation>(): NULL expression encountered`, and return
 *   #STATUS_BAD_PARAMETER; every other check returns #STATUS_BAD_PARAMETER silently. The
 *   `Mid_` steps check their pointers the same silent way, but not their handles.
 * - **Ownership.** Buffers, counts and records stay the caller's. libVELTA keeps no pointer to
 *   them after a call returns, except that SPI_InitChannel() and I2C_InitChannel() write back
 *   into the configuration record they are given. The only long-lived allocation is one node
 *   per open SPI channel, freed when the channel closes.
 * - **Threads.** None are started. Calls on different channels may run at the same time
 *   from different threads: the one thing SPI channels share, their configuration list, is
 *   locked, and nothing else is global. The commands and answers of a channel form one
 *   stream, so calls on one channel must not overlap: serialising them is the caller's task.
 * - **Synchronous.** Every operation returns when its transfer has completed or failed.
 *   Nothing is retried and nothing done before a failure is undone.
 */
#ifndef LIBVELTA_H
#define LIBVELTA_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/** @brief Major version of these headers: changes break the interface. */
#define VELTA_VERSION_MAJOR 1
/** @brief Minor version of these headers: additions that keep the interface. */
#define VELTA_VERSION_MINOR 0
/** @brief Patch version of these headers: fixes only. */
#define VELTA_VERSION_PATCH 0
/** @brief The version of these headers as text, "major.minor.patch". */
#define VELTA_VERSION_TEXT "1.0.0"

/**
 * @brief The version of the libVELTA actually loaded, which may be newer than the headers an
 *        application was built with (compare with #VELTA_VERSION_MAJOR and friends).
 * @param[out] major Receives the major version; may be null.
 * @param[out] minor Receives the minor version; may be null.
 * @param[out] patch Receives the patch version; may be null.
 * @return The version as static text, for example "1.0.0"; never null, never to be freed.
 */
KV_API const char *VELTA_GetVersion(unsigned *major, unsigned *minor, unsigned *patch);

/**
 * @brief A short English text for any status a libVELTA operation returns.
 *
 * libVELTA's own statuses have fixed texts. For any other status the driver is asked, if it
 * exports the optional `kvsim_status_text` (the simulated driver does); a status nobody
 * describes reads "driver status N".
 * @param[in] status Any ::KV_STATUS.
 * @return The text; never null, never to be freed. Fixed texts are static; the text of an
 *         undescribed status lives in a per-thread buffer that the calling thread's next call
 *         overwrites.
 */
KV_API const char *VELTA_StatusText(KV_STATUS status);

#ifdef __cplusplus
}
#endif

#endif
