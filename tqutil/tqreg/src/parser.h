// Command line of tqreg: options, and the register sets given as positional arguments.
#pragma once

#include "cli_common.h"
#include "tq_api.h"

typedef struct ParserParam_t {
    int output_radix;
    int read;    /* read and print the selected registers */
    int write;   /* write the flagged registers; allows assignments */
    int verify;  /* read back and print each register written */
    int program; /* F selectors and assignments to register 9 */
    int key;     /* handed to every write; 0 when not given */
} PARSER_PARAM;

// Returns PARSER_CONTINUE, or PARSER_EXIT when the process is to end with status 0.
int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, REG_PARAM *reg, REG_VAL *val, int argc,
               char **argv);

// One positional argument: an assignment NAME=VALUE, a read selector or an F selector.
// Returns 0 when it was accepted or ignored, 1 when it is invalid.
int parser_regset(PARSER_PARAM parser, REG_PARAM *reg, REG_VAL *val, const char *argument);
