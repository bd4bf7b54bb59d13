#include "commands.h"

namespace velta {

std::vector<Bytes> spi_transfer(const SpiSettings &settings, const std::vector<Bytes> &frames) {
    SpiChannel spi(settings);
    std::vector<Bytes> received;
    for (const Bytes &out : frames) received.emplace_back(out.size());
    // Every frame full duplex, chip-select released after each, all in one stream.
    std::vector<SPITransfer> set;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SPITransfer t = spi_in(received[i].data(), frames[i].size(), true);
        t.txBuffer = frames[i].data();
        set.push_back(t);
    }
    spi.transfer(set);
    return received;
}

}  // namespace velta
