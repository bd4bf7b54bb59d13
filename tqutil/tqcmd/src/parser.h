// Command line of tqcmd; traces its parsing on standard error.
#pragma once

#include "cli_common.h"
#include "tq_api.h"

typedef struct ParserParam_t {
    int data_in;   /* command word; with -. also the data word sent after it */
    int trnsfr16b; /* 1: send data_in as a 16-bit word; 0: read 12 bytes back */
} PARSER_PARAM;

// Returns PARSER_CONTINUE, or PARSER_EXIT when the process is to end with status 0.
int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, int argc, char **argv);
