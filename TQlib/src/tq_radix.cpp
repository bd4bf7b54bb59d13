#include "tq_radix.h"

namespace tq {

namespace {

const char kDigits[] = "0123456789ABCDEF";

char *put_digits(char *out, std::uint32_t value, unsigned digits, unsigned shift) {
    std::uint32_t mask = (1u << shift) - 1;
    for (unsigned i = digits; i-- > 0;) *out++ = kDigits[(value >> (i * shift)) & mask];
    return out;
}


unsigned decimal_digits(unsigned bits) {
    std::uint64_t largest = (std::uint64_t{1} << bits) - 1;
    unsigned digits = 1;
    while (largest >= 10) largest /= 10, ++digits;
    return digits;
}

}  // namespace

char *put_decimal(char *out, std::uint64_t value) {
    char reversed[20];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = reversed[--n];
    return out;
}


int normalized_radix(int radix) { return radix >= 0 && radix <= kHexPrefixRadix ? radix : kHexPrefixRadix; }

char *put_number(char *out, std::uint32_t value, unsigned bits, int radix) {
    if (bits < 32) value &= (1u << bits) - 1;
    switch (normalized_radix(radix)) {
    case 0:
        return put_digits(out, value, bits, 1);
    case 1:
        return put_decimal(out, value);
    case 2:
        return put_digits(out, value, (bits + 3) / 4, 4);
    case 3:
        *out++ = '0', *out++ = 'b';
        return put_digits(out, value, bits, 1);
    default:
        *out++ = '0', *out++ = 'x';
        return put_digits(out, value, (bits + 3) / 4, 4);
    }
}

int number_width(unsigned bits, int radix) {
    switch (normalized_radix(radix)) {
    case 0: return static_cast<int>(bits);
    case 1: return static_cast<int>(decimal_digits(bits));
    case 2: return static_cast<int>((bits + 3) / 4);
    case 3: return static_cast<int>(bits) + 2;
    default: return static_cast<int>((bits + 3) / 4) + 2;
    }
}

}  // namespace tq
