// velta decode
#include <iostream>
#include <iterator>

#include "cli.h"
#include "decode.h"

namespace velta {

namespace {

Bytes read_input(const std::string &path) {
    if (path != "-") return read_file(path);
    Bytes bytes((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw Failure("standard input: read error");
    return bytes;
}

struct DecodeFamily : CommandFamily {
    std::string file;
    bool hex = false, json = false;

    DecodeFamily(CLI::App &app, Action &action) {
        CLI::App *decode = app.add_subcommand(
            "decode", "show an engine command stream (binary, hex text or a recording) by command and bus activity");
        decode->add_option("FILE", file, "the stream, or - for standard input")->required();
        decode->add_flag("--hex", hex, "FILE is hex text (pairs of digits; blanks, 0x and # comments allowed)");
        decode->add_flag("--json", json, "print one JSON document");
        decode->callback([this, &action] { action = [this] { return run(); }; });
    }

    std::string run() const {
        const std::string name = file == "-" ? "standard input" : file;
        return decode_stream(read_input(file), hex ? DecodeInput::Hex : DecodeInput::Binary, json, name);
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_decode(CLI::App &app, Action &action) { return std::make_unique<DecodeFamily>(app, action); }

}  // namespace velta
