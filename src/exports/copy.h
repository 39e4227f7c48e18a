// What every export shares: turning the host's handle into the driver's, and
// moving values between records and host locations as plain bytes.
//
// Every copy goes through memcpy at the value's own width. That keeps reals
// out of floating-point registers that could quiet a signalling NaN (the x87
// stack on i386), makes no assumption about the alignment of host pointers,
// and keeps the stores in argument order even when out-pointers overlap.
#pragma once

#include <cstdint>
#include <cstring>

#include "LV_zolt.h"
#include "driver/interface.h"  // its asserts hold records.h to the description
#include "driver/zolt.h"

namespace lvzolt {

inline BoardRecord* driverHandle(LV_ZOLT_Handle board) {
    return reinterpret_cast<BoardRecord*>(board);
}

// Stores a record field at a host location, exactly sizeof(T) bytes.
template <class T>
inline void put(void* host, const T& field) {
    std::memcpy(host, &field, sizeof(T));
}

// Stores a real argument in its record field, bit for bit. A real argument
// arrives in memory (its two stack slots on i386) or in a register; the empty
// asm makes the compiler treat its memory as holding bytes it does not know,
// so the copy reads them from there as plain bytes. Without it, gcc on i386
// loads the argument onto the x87 stack and stores it back (fld/fstp), which
// quiets a signalling NaN.
inline void putRealArgument(double* field, double& argument) {
    asm("" : "+m"(argument));
    put(field, argument);
}

// The low-order bits of a 32-bit argument slot. Narrow inputs are declared
// as full slots because some compilers assume the caller has already
// extended an 8- or 16-bit argument and would otherwise pass stale upper
// bits on into a wider field.
inline std::uint8_t low8(std::uint32_t slot) { return static_cast<std::uint8_t>(slot); }
inline std::uint16_t low16(std::uint32_t slot) { return static_cast<std::uint16_t>(slot); }

}  // namespace lvzolt
