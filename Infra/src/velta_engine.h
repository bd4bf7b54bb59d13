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

#endif
