/*
 * LV_zolt: flat-argument exports over the zolt timing-board driver.
 *
 * Every export makes exactly one call of the driver operation of the same
 * name (without the leading "LV_") and returns that operation's status byte
 * unchanged: 0 is success, anything else is the driver's failure code. Read
 * the result as 8 bits.
 *
 * Argument conventions, the same for every export:
 *  - The board handle is a pointer-width integer that LV_ZOLT_open delivers;
 *    pass it back unchanged.
 *  - Narrow inputs are declared as 32-bit slots: only the low 8 or 16 bits
 *    named in the comment are used, whatever the host leaves in the rest.
 *  - Reals are copied bit for bit in both directions (NaN payloads, negative
 *    zero and subnormals included).
 *  - Out-pointers are not checked. Each must be valid and writable at its
 *    full width; each is written once, after the driver call, in argument
 *    order, at exactly its width. The identification exports need a 9-byte
 *    buffer.
 *  - Wait exports block the calling thread for as long as the driver does.
 *
 * Needs nothing but <stdint.h>; compiles as C99 and as C++.
 */
#ifndef LV_ZOLT_H
#define LV_ZOLT_H

#include <stdint.h>

/* Calling convention: cdecl on Windows (caller removes the arguments),
 * the platform's default elsewhere. */
#if defined(_WIN32)
#define LV_ZOLT_CALL __cdecl
#else
#define LV_ZOLT_CALL
#endif

/* Export/import: LV_ZOLT_BUILD is defined only while building the library. */
#if defined(_WIN32)
#if defined(LV_ZOLT_BUILD)
#define LV_ZOLT_API __declspec(dllexport)
#else
#define LV_ZOLT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define LV_ZOLT_API __attribute__((visibility("default")))
#else
#define LV_ZOLT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque board handle: pointer width on every target (32 bits on Win32). */
typedef uintptr_t LV_ZOLT_Handle;

/* Parameters are named by the kind and byte offset of the record field they
 * carry (real0, byte9, word12, value0): what a value means is the driver's.
 * The fields of a time quadruple (a 64-bit real, two 8-bit values and a
 * 16-bit value, in that order) are marked where they appear. */

/* Open and close. The handle output is written whatever the status; word4
 * (bytes 4-5 of the driver's board record) only when the status is 0. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_open(LV_ZOLT_Handle *board, uint32_t value,
                                              uint16_t *word4);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_close(LV_ZOLT_Handle board);

/* Pass-through: the 32-bit value reaches the driver unchanged. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getDriver(LV_ZOLT_Handle board, uint32_t value);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_resetFirmware(LV_ZOLT_Handle board);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setOscillator(LV_ZOLT_Handle board, uint32_t value);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setPropDelayCorr(LV_ZOLT_Handle board, uint32_t value);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_simEvent(LV_ZOLT_Handle board);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_synchControl(LV_ZOLT_Handle board, uint32_t value);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_synchStatus(LV_ZOLT_Handle board, uint32_t value);

/* Identification: on status 0, writes "XX-XX-XX" and a NUL to bytes 0-8 of
 * text (9 bytes); on any other status, text is left untouched. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getFirmware(LV_ZOLT_Handle board, char *text);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getFPGA(LV_ZOLT_Handle board, char *text);

/* Time and date. Outputs are written whatever the status. getTime hands out
 * a time quadruple; setTime takes none. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getTime(LV_ZOLT_Handle board,
                                                 double *real0 /* time quadruple */,
                                                 uint8_t *byte9 /* time quadruple */,
                                                 uint8_t *byte10 /* time quadruple */,
                                                 uint16_t *word12 /* time quadruple */);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setTime(LV_ZOLT_Handle board,
                                                 uint32_t byte8 /* low 8 bits */,
                                                 uint32_t byte9 /* low 8 bits */,
                                                 uint32_t byte10 /* low 8 bits */,
                                                 uint32_t word12 /* low 16 bits */,
                                                 uint32_t word14 /* low 16 bits */);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getDate(LV_ZOLT_Handle board, uint16_t *word0,
                                                 uint8_t *byte2, uint8_t *byte3);
/* The driver receives the address of a private copy of value0. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setYear(LV_ZOLT_Handle board, uint32_t value0);

/* Position. Outputs are written whatever the status. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getAltitude(LV_ZOLT_Handle board, float *real0);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getLatitude(LV_ZOLT_Handle board, int16_t *word0,
                                                     float *real4);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getLongitude(LV_ZOLT_Handle board, int16_t *word0,
                                                      float *real4);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_getSatInfo(LV_ZOLT_Handle board, uint8_t *byte0,
                                                    uint8_t *byte1);

/* Timing signals and waits. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setHeartbeat(LV_ZOLT_Handle board,
                                                      uint32_t byte0 /* low 8 bits */,
                                                      uint32_t byte1 /* low 8 bits */,
                                                      uint32_t byte2 /* low 8 bits */,
                                                      double real8);
/* Takes a time quadruple. Its last value is taken as 8 bits and widened to
 * 16 in the driver's record: only 0 to 255 can be set. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_setMatchTime(LV_ZOLT_Handle board,
                                                      uint32_t byte0 /* low 8 bits */,
                                                      double real8 /* time quadruple */,
                                                      uint32_t byte16 /* time quadruple, low 8 bits */,
                                                      uint32_t byte17 /* time quadruple, low 8 bits */,
                                                      uint32_t word18 /* time quadruple, low 8 bits */);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_waitHeartbeat(LV_ZOLT_Handle board, uint32_t value0);
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_waitMatch(LV_ZOLT_Handle board, uint32_t value0);
/* All seven outputs are written whatever the status; the first four are a
 * time quadruple. The input, the record's first field, comes last. */
LV_ZOLT_API uint8_t LV_ZOLT_CALL LV_ZOLT_waitEvent(LV_ZOLT_Handle board,
                                                   double *real8 /* time quadruple */,
                                                   uint8_t *byte16 /* time quadruple */,
                                                   uint8_t *byte17 /* time quadruple */,
                                                   uint16_t *word18 /* time quadruple */,
                                                   uint16_t *word20, uint8_t *byte22,
                                                   uint8_t *byte23, uint32_t value0);

#ifdef __cplusplus
}
#endif

#endif /* LV_ZOLT_H */
