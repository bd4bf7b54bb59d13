#include "parser.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

const int otp_register = 9;

struct Field {
    const char *name;
    int reg;
    uint8_t mask;
    int shift;
};

const Field fields[] = {
    {"EDF", 0, 0x01, 0}, {"FWS", 0, 0x02, 1}, {"FR", 0, 0x04, 2},  {"FLL", 0, 0x18, 3},
    {"FI", 0, 0xE0, 5},  {"BCT", 3, 0xFF, 0}, {"ZH", 4, 0xFF, 0},  {"ZL", 5, 0x0F, 0},
    {"ETX", 5, 0x10, 4}, {"ETY", 5, 0x20, 5}, {"BIX", 5, 0x40, 6}, {"BIY", 5, 0x80, 7},
    {"PWM", 7, 0x01, 0}, {"RD", 7, 0x02, 1},  {"UVW", 7, 0x04, 2}, {"ABZ", 7, 0x08, 3},
    {"EPT", 7, 0x30, 4}, {"AF", 7, 0xC0, 6},
};

const LongOption long_options[] = {
    {"--read", "-r"}, {"--write", "-w"}, {"--verify", "-y"}, {"--OTP", "-!"}};

const Field *find_field(const std::string &name) {
    for (const Field &field : fields) {
        if (name == field.name) {
            return &field;
        }
    }
    return nullptr;
}

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

uint8_t bit(int n) { return static_cast<uint8_t>(1u << n); }

// A register number is one digit standing alone: "10" or "5x" name no register.
bool names_register(const std::string &name) { return name.size() == 1 && is_digit(name[0]); }
bool misnames_register(const std::string &name) { return name.size() > 1 && is_digit(name[0]); }

// An assignment only flags registers it may write: register 9 needs program mode.
int assign(PARSER_PARAM parser, REG_PARAM *reg, REG_VAL *val, const char *argument) {
    if (!parser.write) {
        return 1;
    }
    const char *equals = std::strchr(argument, '=');
    const std::string name(argument, equals);
    const uint8_t value = static_cast<uint8_t>(cli_read_prefixed(equals + 1) & 0xFF);

    if (misnames_register(name)) {
        return 1;
    }
    if (names_register(name)) {
        const int r = name[0] - '0';
        if (r == otp_register && !parser.program) {
            return 1;
        }
        reg->reg2write[r] = 1;
        reg->reg2write_msk[r] = 0xFF;
        val->regval[r] = value;
        return 0;
    }
    if (const Field *field = find_field(name)) {
        const uint8_t shifted = static_cast<uint8_t>((value << field->shift) & field->mask);
        reg->reg2write[field->reg] = 1;
        reg->reg2write_msk[field->reg] |= field->mask;
        val->regval[field->reg] = static_cast<uint8_t>((val->regval[field->reg] & ~field->mask) | shifted);
        return 0;
    }
    if (name.size() >= 3 && name[0] == 'R' && name[2] == 'B') {
        const char reg_char = name[1];
        const char bit_char = name.size() > 3 ? name[3] : '\0';
        if (!is_digit(reg_char) || bit_char < '0' || bit_char > '7') {
            return 1;
        }
        const int r = reg_char - '0';
        if (r == otp_register && !parser.program) {
            return 1;
        }
        const uint8_t mask = bit(bit_char - '0');
        reg->reg2write[r] = 1;
        reg->reg2write_msk[r] |= mask;
        val->regval[r] = static_cast<uint8_t>((val->regval[r] & ~mask) | ((value & 1) ? mask : 0));
        return 0;
    }
    return 0; // a name that matches nothing is ignored
}

int select_for_reading(REG_PARAM *reg, const char *argument) {
    if (misnames_register(argument)) {
        return 1;
    }
    if (names_register(argument)) {
        const int r = argument[0] - '0';
        reg->reg2read[r] = 1;
        reg->reg2read_msk[r] = 0xFF;
        reg->reg2read_block[r] = 1;
    } else if (const Field *field = find_field(argument)) {
        reg->reg2read[field->reg] = 1;
        reg->reg2read_msk[field->reg] |= field->mask;
    }
    return 0;
}

// F0..F7 select one bit of register 9; the last one sets the value, the mask gathers them.
int select_otp_bit(REG_PARAM *reg, REG_VAL *val, const char *argument) {
    if (argument[0] != 'F' || !is_digit(argument[1])) {
        return 0;
    }
    const int n = argument[1] - '0';
    if (n > 7) {
        return 1;
    }
    reg->reg2write[otp_register] = 1;
    reg->reg2write_msk[otp_register] |= bit(n);
    val->regval[otp_register] = bit(n);
    return 0;
}

void select_registers(REG_PARAM *reg, std::initializer_list<int> registers) {
    for (int r : registers) {
        reg->reg2read[r] = 1;
    }
}

ArgResult handle_option(const char *option, ArgScanner &scanner, GEN_PARAM *gen,
                        PARSER_PARAM *parser, REG_PARAM *reg) {
    if (std::strcmp(option, "--r+") == 0) {
        parser->read = 1;
        select_registers(reg, {0, 1, 2, 3, 4, 5, 6, 7, 8});
        return ArgResult::Accepted;
    }
    if (cli_connection_option(option, gen, false)) {
        return ArgResult::Accepted;
    }
    switch (option[1]) {
    case 'x':
        return cli_radix_option(option, scanner, &parser->output_radix);
    case 'r':
        parser->read = 1;
        return ArgResult::Accepted;
    case 'w':
        parser->write = 1;
        return ArgResult::Accepted;
    case 'y':
        parser->verify = 1;
        return ArgResult::Accepted;
    case '!':
        parser->program = 1;
        return ArgResult::Accepted;
    case 'k':
        if (option[2] != '=') {
            return ArgResult::Invalid;
        }
        parser->key = cli_read_prefixed(option + 3);
        return ArgResult::Accepted;
    case 'h':
        cli_print_register_usage(scanner.program());
        return ArgResult::Exit;
    case 'v':
        cli_print_version("Torqa register utility v", "2.2.0.140729.153337");
        return ArgResult::Exit;
    default:
        return ArgResult::Invalid;
    }
}

} // namespace

int parser_regset(PARSER_PARAM parser, REG_PARAM *reg, REG_VAL *val, const char *argument) {
    if (std::strchr(argument, '=') != nullptr) {
        return assign(parser, reg, val, argument);
    }
    if (parser.read) {
        return select_for_reading(reg, argument);
    }
    if (parser.program) {
        return select_otp_bit(reg, val, argument);
    }
    return 1;
}

int arg_parser(GEN_PARAM *gen, PARSER_PARAM *parser, REG_PARAM *reg, REG_VAL *val, int argc,
               char **argv) {
    parser->output_radix = 0;
    parser->read = 0;
    parser->write = 0;
    parser->verify = 0;
    parser->program = 0;
    if (argc <= 1) {
        parser->read = 1;
        select_registers(reg, {0, 3, 4, 5, 7});
        return PARSER_CONTINUE;
    }
    const LongOptionTable tool_longs = {long_options, sizeof long_options / sizeof long_options[0]};
    const bool exit_now = cli_scan(
        argc, argv, tool_longs,
        [&](const char *option, ArgScanner &scanner) {
            return handle_option(option, scanner, gen, parser, reg);
        },
        [&](const char *argument) {
            return parser_regset(*parser, reg, val, argument) == 0 ? ArgResult::Accepted
                                                                  : ArgResult::Invalid;
        });
    return exit_now ? PARSER_EXIT : PARSER_CONTINUE;
}
