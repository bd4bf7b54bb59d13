#include "commands.h"

namespace velta {

std::vector<Bytes> spi_transfer(const SpiSettings &settings, const std::vector<Bytes> &frames) {
    SpiChannel spi(settings);
    std::vector<Bytes> received;
    for (const Bytes &out : frames) {
        Bytes in(out.size());
        spi.begin();
        spi.exchange(out, in.data());
        spi.end();
        received.push_back(in);
    }
    return received;
}

}  // namespace velta
