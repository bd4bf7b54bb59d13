// Numbers in the tools' radix codes: 0 binary, 1 decimal, 2 hex, 3 binary with "0b",
// 4 hex with "0x". The tools combine codes by OR, so codes outside 0..4 reach us too; they
// print as hex with "0x", the one form that can never be misread.
#pragma once

#include <cstdint>

namespace tq {

constexpr int kHexPrefixRadix = 4;
// Longest text put_number writes: "0b" and 32 binary digits.
constexpr int kNumberTextMax = 34;

int normalized_radix(int radix);
// Writes `value` in decimal at `out`, without a terminator; returns the end.
char *put_decimal(char *out, std::uint64_t value);
// Writes `value` with `bits` significant bits (binary and hex are zero-padded to that width,
// decimal is not) at `out`, without a terminator; returns the end.
char *put_number(char *out, std::uint32_t value, unsigned bits, int radix);
// Width put_number gives for `bits` bits, decimal taken at its widest.
int number_width(unsigned bits, int radix);

}  // namespace tq
