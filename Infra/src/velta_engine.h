/**
 * @file velta_engine.h
 * @brief The VELTA engine's vocabulary: command bytes, the bits that make up a shift command,
 * and the roles of the low pins. Plain C.
 *
 * libVELTA builds its command streams from these names and the simulated bridge decodes them;
 * an application that sends its own commands through KV_Channel_Write() can use them too.
 */
#ifndef VELTA_ENGINE_H
#define VELTA_ENGINE_H

#include <stddef.h>
#include <stdint.h>

/*
 * A shift command is VELTA_SHIFT_OUT and/or VELTA_SHIFT_IN with any of the modifier bits.
 * Byte shifts take a count - 1 in two bytes (low first), bit shifts a bit count - 1 (0..7);
 * shifts that write are followed by their data bytes. Data travel most significant bit first
 * unless VELTA_SHIFT_LSB_FIRST is set.
 */
#define VELTA_SHIFT_OUT_FALLING 0x01u /**< data out changes on the falling clock edge (else rising) */
#define VELTA_SHIFT_BITS 0x02u /**< the count is in bits (else bytes) */
#define VELTA_SHIFT_IN_FALLING 0x04u /**< data in is sampled on the falling edge (else rising) */
#define VELTA_SHIFT_LSB_FIRST 0x08u /**< least significant bit first */
#define VELTA_SHIFT_OUT 0x10u /**< clock data out on the data-out pin */
#define VELTA_SHIFT_IN 0x20u /**< clock data in from the data-in pin; queues answer bytes */

/* Pin commands. */
#define VELTA_CMD_SET_LOW_PINS 0x80u /**< value, direction (1 = output) of the low pin byte */
#define VELTA_CMD_READ_LOW_PINS 0x81u /**< queues the low pin byte's levels */
#define VELTA_CMD_SET_HIGH_PINS 0x82u /**< value, direction of the high pin byte */
#define VELTA_CMD_READ_HIGH_PINS 0x83u /**< queues the high pin byte's levels */

/* Engine settings. */
#define VELTA_CMD_LOOPBACK_ON 0x84u /**< data out fed back to data in */
#define VELTA_CMD_LOOPBACK_OFF 0x85u /**< data in from the data-in pin again */
#define VELTA_CMD_SET_DIVISOR 0x86u /**< divisor low, high: rate = base / (divisor + 1) */
#define VELTA_CMD_SEND_IMMEDIATE 0x87u /**< send queued answers to the host now */
#define VELTA_CMD_DIVIDE_BY_5_OFF 0x8Au /**< clock base 30 MHz */
#define VELTA_CMD_DIVIDE_BY_5_ON 0x8Bu /**< clock base 6 MHz */
#define VELTA_CMD_THREE_PHASE_ON 0x8Cu /**< each bit takes three half periods */
#define VELTA_CMD_THREE_PHASE_OFF 0x8Du /**< each bit takes two half periods */
#define VELTA_CMD_ADAPTIVE_CLOCKING_ON 0x96u /**< each clock edge waits until low pin 7 shows its level */
#define VELTA_CMD_ADAPTIVE_CLOCKING_OFF 0x97u /**< clock edges follow the divisor alone */
#define VELTA_CMD_DRIVE_ZERO_ONLY 0x9Eu /**< low mask, high mask: those pins only pull low */

/* Synchronisation: an unknown command is answered by VELTA_ECHO_MARKER and the command. */
#define VELTA_BOGUS_COMMAND 0xAAu /**< not a command: sent until its echo returns */
#define VELTA_BOGUS_COMMAND_ONCE 0xABu /**< not a command: sent once after the echo */
#define VELTA_ECHO_MARKER 0xFAu /**< first byte of the engine's answer to an unknown command */

/* Low pins by role. SPI puts its chip-select lines on pins 3 to 7; I2C ties data in to SDA. */
#define VELTA_PIN_CLOCK 0x01u /**< pin 0: SCK / SCL */
#define VELTA_PIN_DATA_OUT 0x02u /**< pin 1: MOSI / SDA as driven */
#define VELTA_PIN_DATA_IN 0x04u /**< pin 2: MISO / SDA as sampled */
#define VELTA_PIN_CHIP_SELECT_FIRST 0x08u /**< pin 3: SPI's chip select 0; chip select n is this shifted left by n */
#define VELTA_PIN_I2C_SPARE 0x10u /**< pin 4: an output I2C drives beside SCL and SDA */
#define VELTA_PIN_CLOCK_RETURN 0x80u /**< pin 7: the clock as it returns, for adaptive clocking */

/* Limits of one shift command. */
#define VELTA_MAX_SHIFT_BYTES 65536u /**< most bytes one byte shift moves (count - 1 in 16 bits) */
#define VELTA_MAX_SHIFT_BITS 8u /**< most bits one bit shift moves */

/*
 * The commands' formats. Every function takes the engine's generation: a full-speed engine
 * (fullSpeed non-zero) knows the shifts, the pin commands, loopback, the divisor and
 * send-immediate; a high-speed one also the clock, three-phase, adaptive-clocking and
 * drive-only-zero commands.
 */

/** Non-zero when @p command is a shift the engine knows: data out (changing on either edge),
 *  data in (sampled on either edge), or both on opposite edges; bytes or bits, MSB first. */
static inline int velta_is_shift(uint8_t command) {
    const unsigned out = command & VELTA_SHIFT_OUT, in = command & VELTA_SHIFT_IN;
    const unsigned edges = command & (VELTA_SHIFT_OUT_FALLING | VELTA_SHIFT_IN_FALLING);
    if (command & ~(VELTA_SHIFT_OUT | VELTA_SHIFT_IN | VELTA_SHIFT_BITS | VELTA_SHIFT_OUT_FALLING |
                    VELTA_SHIFT_IN_FALLING))
        return 0;
    if (out && in) return edges == VELTA_SHIFT_OUT_FALLING || edges == VELTA_SHIFT_IN_FALLING;
    if (out) return !(edges & VELTA_SHIFT_IN_FALLING);
    if (in) return !(edges & VELTA_SHIFT_OUT_FALLING);
    return 0;
}

/** Argument bytes that follow @p command (a byte shift's data not included, see
 *  velta_data_length()), or -1 when the engine does not know it and answers with
 *  #VELTA_ECHO_MARKER and the byte. */
static inline int velta_argument_length(uint8_t command, int fullSpeed) {
    if (velta_is_shift(command))
        return (command & VELTA_SHIFT_BITS) && !(command & VELTA_SHIFT_OUT) ? 1 : 2;
    switch (command) {
    case VELTA_CMD_SET_LOW_PINS: case VELTA_CMD_SET_HIGH_PINS: case VELTA_CMD_SET_DIVISOR: return 2;
    case VELTA_CMD_READ_LOW_PINS: case VELTA_CMD_READ_HIGH_PINS: case VELTA_CMD_LOOPBACK_ON:
    case VELTA_CMD_LOOPBACK_OFF: case VELTA_CMD_SEND_IMMEDIATE: return 0;
    case VELTA_CMD_DIVIDE_BY_5_OFF: case VELTA_CMD_DIVIDE_BY_5_ON: case VELTA_CMD_THREE_PHASE_ON:
    case VELTA_CMD_THREE_PHASE_OFF: case VELTA_CMD_ADAPTIVE_CLOCKING_ON: case VELTA_CMD_ADAPTIVE_CLOCKING_OFF:
        return fullSpeed ? -1 : 0;
    case VELTA_CMD_DRIVE_ZERO_ONLY: return fullSpeed ? -1 : 2;
    default: return -1;
    }
}

/** Count of a byte shift from its two argument bytes (count - 1, low byte first). */
static inline uint32_t velta_shift_count(uint8_t low, uint8_t high) { return ((uint32_t)high << 8 | low) + 1u; }

/** Data bytes that follow a command's arguments: a byte shift that writes carries its count. */
static inline uint32_t velta_data_length(uint8_t command, uint8_t arg0, uint8_t arg1) {
    if (!velta_is_shift(command) || (command & VELTA_SHIFT_BITS) || !(command & VELTA_SHIFT_OUT)) return 0;
    return velta_shift_count(arg0, arg1);
}

/** Answer bytes a command queues: a byte shift that reads one per byte, a bit shift that reads
 *  one, a pin read one. */
static inline uint32_t velta_answer_length(uint8_t command, uint8_t arg0, uint8_t arg1) {
    if (command == VELTA_CMD_READ_LOW_PINS || command == VELTA_CMD_READ_HIGH_PINS) return 1;
    if (!velta_is_shift(command) || !(command & VELTA_SHIFT_IN)) return 0;
    return (command & VELTA_SHIFT_BITS) ? 1u : velta_shift_count(arg0, arg1);
}

/** The shift of an SPI mode (0 to 3): @p what is #VELTA_SHIFT_OUT and/or #VELTA_SHIFT_IN, with
 *  #VELTA_SHIFT_BITS for a bit shift. Modes 0 and 3 change data out on the falling edge and
 *  sample on the rising one, modes 1 and 2 the other way round. */
static inline uint8_t velta_spi_shift(unsigned what, unsigned spiMode) {
    const int falling_out = spiMode == 0 || spiMode == 3;
    unsigned command = what & (VELTA_SHIFT_OUT | VELTA_SHIFT_IN | VELTA_SHIFT_BITS);
    if (falling_out && (what & VELTA_SHIFT_OUT)) command |= VELTA_SHIFT_OUT_FALLING;
    if (!falling_out && (what & VELTA_SHIFT_IN)) command |= VELTA_SHIFT_IN_FALLING;
    return (uint8_t)command;
}

/*
 * Encoders: each writes one command at @p out and returns its length. The caller provides the
 * room (at most 3 bytes) and keeps the counts in range; data bytes of a byte shift follow.
 */

/** A byte shift of @p count bytes, 1 to #VELTA_MAX_SHIFT_BYTES. */
static inline size_t velta_encode_shift_bytes(uint8_t *out, uint8_t command, uint32_t count) {
    out[0] = command;
    out[1] = (uint8_t)(count - 1u);
    out[2] = (uint8_t)((count - 1u) >> 8);
    return 3;
}

/** A bit shift of @p bits bits, 1 to #VELTA_MAX_SHIFT_BITS; a shift that writes sends the top
 *  @p bits bits of @p data. */
static inline size_t velta_encode_shift_bits(uint8_t *out, uint8_t command, unsigned bits, uint8_t data) {
    out[0] = command;
    out[1] = (uint8_t)(bits - 1u);
    if (!(command & VELTA_SHIFT_OUT)) return 2;
    out[2] = data;
    return 3;
}

/** #VELTA_CMD_SET_LOW_PINS or #VELTA_CMD_SET_HIGH_PINS with a value and a direction byte. */
static inline size_t velta_encode_pins(uint8_t *out, uint8_t command, uint8_t value, uint8_t direction) {
    out[0] = command;
    out[1] = value;
    out[2] = direction;
    return 3;
}

/** #VELTA_CMD_SET_DIVISOR: clock rate = base / (@p divisor + 1). */
static inline size_t velta_encode_divisor(uint8_t *out, uint16_t divisor) {
    out[0] = VELTA_CMD_SET_DIVISOR;
    out[1] = (uint8_t)divisor;
    out[2] = (uint8_t)(divisor >> 8);
    return 3;
}

#endif
