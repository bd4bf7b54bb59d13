// Command line of tqread.
#pragma once

#include "cli_common.h"
#include "tq_api.h"

#define TQREAD_FILE_NAME_SIZE 256

typedef struct ParserParam_t {
    int sample_size;
    int output_format;
    int output_radix;
    int error;  /* -e: recorded, has no effect */
    int append; /* open the files for appending */
    char file_name[TQREAD_FILE_NAME_SIZE];
} PARSER_PARAM;

// Returns PARSER_CONTINUE, or PARSER_EXIT when the process is to end with status 0.
int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, int argc, char **argv);
