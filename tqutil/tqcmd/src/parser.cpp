#include "parser.h"

#include <cstdio>
#include <cstring>

namespace {

// This module's file name as the build knows it, without its directories.
const char *source_name() {
    const char *name = __FILE__;
    for (const char *c = __FILE__; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') {
            name = c + 1;
        }
    }
    return name;
}

void trace_start(int argc, char **argv) {
    std::fprintf(stderr, "***DEBUG: %s:%d:%s(): Program name: %s\n", source_name(), 70, "arg_parser",
                 argv[0]);
    std::fprintf(stderr, "***DEBUG: %s:%d:%s(): Number of arguments: %d\n", source_name(), 71,
                 "arg_parser", argc);
}

void trace_connection_option(char letter, const GEN_PARAM &gen) {
    switch (letter) {
    case 'b':
        std::fprintf(stderr, "***DEBUG: Argument parser: -b: Baudrate is %d\n", gen.baudrate);
        break;
    case 'c':
        std::fprintf(stderr, "***DEBUG: Argument parser: -c: Channel %d\n", static_cast<int>(gen.channel));
        break;
    case 'l':
        std::fputs("***DEBUG: Argument parser: -l: List channels\n", stderr);
        break;
    case 'p':
        std::fprintf(stderr, "***DEBUG: Argument parser: -p: SPI mode is %d\n", gen.spimode);
        break;
    default:
        break;
    }
}

ArgResult handle_option(const char *option, ArgScanner &scanner, GEN_PARAM *gen,
                        PARSER_PARAM *parser) {
    if (cli_connection_option(option, gen, true)) {
        trace_connection_option(option[1], *gen);
        return ArgResult::Accepted;
    }
    switch (option[1]) {
    case '.':
        parser->data_in = cli_read_prefixed(option + 2);
        parser->trnsfr16b = 1;
        std::fprintf(stderr, "***DEBUG: Argument parser: -.: Data is %d\n", parser->data_in);
        return ArgResult::Accepted;
    case 'h':
        cli_print_read_usage(scanner.program());
        return ArgResult::Exit;
    case 'v':
        cli_print_version("Torqa read utility v", "2.0.0.140415.180047");
        return ArgResult::Exit;
    default:
        return ArgResult::Invalid;
    }
}

} // namespace

int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, int argc, char **argv) {
    trace_start(argc, argv);
    cli_set_defaults(gen);
    parser->data_in = 0;
    const bool exit_now = cli_scan(
        argc, argv, cli_read_long_options,
        [&](const char *option, ArgScanner &scanner) {
            return handle_option(option, scanner, gen, parser);
        },
        cli_no_positional);
    return exit_now ? PARSER_EXIT : PARSER_CONTINUE;
}
