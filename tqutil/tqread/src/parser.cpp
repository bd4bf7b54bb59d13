#include "parser.h"

#include <cstdio>
#include <cstring>

namespace {

const int samples_per_ms = 500; // one sample every 2 us

// -t{TIME}{UNIT}: the sample count that covers TIME at one sample every 2 us.
int samples_for_time(const char *text) {
    const char *str1 = nullptr;
    const long long time = cli_read_decimal(text, &str1);
    if (std::strcmp(str1, "us") == 0) {
        return cli_clamp_to_int((time + 1) / 2);
    }
    if (std::strcmp(str1, "ms") == 0) {
        return cli_clamp_to_int(time * samples_per_ms);
    }
    if (std::strcmp(str1, "s") == 0) {
        return cli_clamp_to_int(time * samples_per_ms * 1000);
    }
    return cli_clamp_to_int(time);
}

ArgResult output_format_option(const char *option, ArgScanner &scanner, int *format) {
    static const CodedWord attached[] = {{"c", TQ_FORMAT_CSV}, {"p", TQ_FORMAT_PLAIN}};
    static const CodedWord word[] = {{"csv", TQ_FORMAT_CSV}, {"plain", TQ_FORMAT_PLAIN}};
    return cli_coded_option(option, scanner, attached, word, sizeof attached / sizeof attached[0],
                            format);
}

ArgResult file_option(ArgScanner &scanner, PARSER_PARAM *parser) {
    const char *name = scanner.take_following();
    if (name == nullptr) {
        std::printf("ERROR: Invalid filename. For help type:\n%s --help\n", scanner.program());
        return ArgResult::Exit;
    }
    std::strncpy(parser->file_name, name, TQREAD_FILE_NAME_SIZE - 1);
    parser->file_name[TQREAD_FILE_NAME_SIZE - 1] = '\0';
    return ArgResult::Accepted;
}

ArgResult handle_option(const char *option, ArgScanner &scanner, GEN_PARAM *gen,
                        PARSER_PARAM *parser) {
    if (cli_connection_option(option, gen, true)) {
        return ArgResult::Accepted;
    }
    switch (option[1]) {
    case 'a':
        parser->append = 1;
        return ArgResult::Accepted;
    case 'e':
        parser->error = 1;
        return ArgResult::Accepted;
    case 'f':
        return file_option(scanner, parser);
    case 'o':
        return output_format_option(option, scanner, &parser->output_format);
    case 'x':
        return cli_radix_option(option, scanner, &parser->output_radix);
    case 's':
        parser->sample_size = cli_read_decimal(option + 2);
        return ArgResult::Accepted;
    case 't':
        parser->sample_size = samples_for_time(option + 2);
        return ArgResult::Accepted;
    case 'h':
        cli_print_read_usage(scanner.program());
        return ArgResult::Exit;
    case 'v':
        cli_print_version("Torqa read utility v", "2.2.0.140729.153335");
        return ArgResult::Exit;
    default:
        return ArgResult::Invalid;
    }
}

} // namespace

int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, int argc, char **argv) {
    cli_set_defaults(gen);
    *parser = PARSER_PARAM{};
    if (argc <= 1) {
        parser->sample_size = 25;
        parser->output_radix = TQ_RADIX_HEX;
        return PARSER_CONTINUE;
    }
    const bool exit_now = cli_scan(
        argc, argv, cli_read_long_options,
        [&](const char *option, ArgScanner &scanner) {
            return handle_option(option, scanner, gen, parser);
        },
        cli_no_positional);
    return exit_now ? PARSER_EXIT : PARSER_CONTINUE;
}
