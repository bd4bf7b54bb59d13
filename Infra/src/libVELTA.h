/* libVELTA's version and the texts of its statuses. Plain C. */
#ifndef LIBVELTA_H
#define LIBVELTA_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VELTA_VERSION_MAJOR 1
#define VELTA_VERSION_MINOR 0
#define VELTA_VERSION_PATCH 0
#define VELTA_VERSION_TEXT "1.0.0"

/* The version of the libVELTA actually loaded, which may be newer than the headers an
 * application was built with. Any pointer may be null. Returns the version as text, e.g. "1.0.0". */
KV_API const char *VELTA_GetVersion(unsigned *major, unsigned *minor, unsigned *patch);

/* A short English text for any status a libVELTA operation returns: libVELTA's own statuses,
 * the driver's where the driver describes them, and "driver status N" otherwise. Never null.
 * The text of an undescribed status stays valid until the calling thread's next call. */
KV_API const char *VELTA_StatusText(KV_STATUS status);

#ifdef __cplusplus
}
#endif

#endif
