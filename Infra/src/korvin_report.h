/* Library-internal: the null-pointer report shared by all modules. */
#ifndef KORVIN_REPORT_H
#define KORVIN_REPORT_H

/* Prints "<path>:<line>:<function>(): NULL expression encountered" on standard output. */
void Infra_ReportNull(const char *sourcePath, int line, const char *function);

#endif
