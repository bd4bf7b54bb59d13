// velta spi transfer
#include "cli.h"
#include "commands.h"

namespace velta {

namespace {

struct SpiFamily : CommandFamily {
    BusOptions bus;
    SpiOptions spi;
    std::vector<std::string> hex;
    std::string in, out;

    SpiFamily(CLI::App &app, Action &action) {
        CLI::App *family = app.add_subcommand("spi", "SPI bus")->require_subcommand(1);
        CLI::App *transfer = bus.with_channel(family->add_subcommand("transfer", "chip-select frames, full duplex"));
        spi.add(transfer);
        bus.add_clock(transfer, "1000000");
        CLI::Option *hex_option =
            transfer->add_option("--hex", hex, "bytes to send, as hex digits; each --hex is a frame of its own")->allow_extra_args(false);
        transfer->add_option("--in", in, "file of bytes to send")->excludes(hex_option);
        transfer->add_option("--out", out, "file for the bytes received (else printed in hex)");
        transfer->callback([this, &action] { action = [this] { return run(); }; });
    }

    std::string run() const {
        const SpiSettings s = spi.settings(bus, 1000000);
        if (hex.empty() && in.empty()) throw UsageError("give the bytes to send with --hex or --in");
        std::vector<Bytes> frames;
        for (const std::string &h : hex) frames.push_back(parse_hex(h));
        if (!in.empty()) frames.push_back(read_file(in));
        for (const Bytes &frame : frames)
            if (frame.empty()) throw UsageError("nothing to send");
        Bytes received;
        std::string printed;
        for (const Bytes &frame : spi_transfer(s, frames)) {
            received.insert(received.end(), frame.begin(), frame.end());
            printed += hex_bytes(frame);
        }
        if (out.empty()) return printed;
        write_file(out, received);
        return "";
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_spi(CLI::App &app, Action &action) { return std::make_unique<SpiFamily>(app, action); }

}  // namespace velta
