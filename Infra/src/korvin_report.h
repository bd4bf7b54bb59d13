/*
 * Library-internal: the one failure path of every module. A failure is reported once, by the
 * function that finds it: the channel layer for a driver entry point that fails or is missing,
 * any function for a check of its own that fails. A status received from another libVELTA
 * function is passed on unchanged and not reported again.
 */
#ifndef KORVIN_REPORT_H
#define KORVIN_REPORT_H

#include "korvin_infra.h"

/* Hands a failing status to Infra_DbgPrintStatus and returns it unchanged; success passes. */
static inline KV_STATUS Infra_Report(KV_STATUS status) {
    if (status != STATUS_SUCCESS) Infra_DbgPrintStatus(status);
    return status;
}

/* Prints "<path>:<line>:<function>(): NULL expression encountered" on standard output and
 * reports STATUS_BAD_PARAMETER, which it returns. */
KV_STATUS Infra_NullArgument(const char *sourcePath, int line, const char *function);

#endif
