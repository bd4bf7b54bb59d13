#include "commands.h"

namespace velta {

Bytes spi_transfer(const SpiSettings &settings, const Bytes &out) {
    SpiChannel spi(settings);
    Bytes in(out.size());
    spi.begin();
    spi.exchange(out, in.data());
    spi.end();
    return in;
}

}  // namespace velta
