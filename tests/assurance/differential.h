// The differential check: one input chooses an export, its arguments
// (arbitrary upper bits in narrow slots, arbitrary real bit patterns), where
// its out-parameters lie in the host's area (overlaps included), what the
// recording stand-in writes into the record and the status register it
// returns. The real export runs through the stand-in and everything the
// driver received and the host got is compared with the model.
//
// Input layout, in reading order; missing bytes read as 0, so every byte
// string is a valid input:
//   1  export (index into model::exports(), modulo 24)
//   1  flags: bit 0 set = the driver writes nothing into the record
//   4  status register, little-endian (the result is its low byte)
//   8  board handle
//   64 arguments 2..9, 8 bytes each (32-bit slots use the low 4)
//   9  out-parameter offsets for arguments 1..9, each modulo the room left
//   24 bytes the driver writes into the record
//   8  handle a failing open delivers (a successful one delivers a board)
//   2  the board record's 16-bit field at offset 4
//   1  canary seed
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model.h"

namespace differential {

inline constexpr std::size_t kAreaSize = 40;  // the host's area for out-parameters
inline constexpr std::size_t kRecordBytes = 24;

struct Case {
    std::size_t exportIndex = 0;
    bool driverWrites = true;
    std::uint32_t statusRegister = 0;
    model::Call call;  // handle, args and outAt (area is set per run)
    std::uint8_t record[kRecordBytes] = {};
    std::uint64_t failedOpenHandle = 0;
    std::uint8_t boardField[2] = {};
    std::uint8_t canarySeed = 0;
};

Case decode(const std::uint8_t* data, std::size_t size);

// Runs the case twice, over complementary canaries, so that a byte the layer
// fails to write cannot hide behind a canary that happens to equal it.
// Returns every difference from the model, or an empty string.
std::string check(const model::Export& e, const Case& c);

// Decodes and checks against the export's own model row; a nonempty report
// ends with the input in hex.
std::string check(const std::uint8_t* data, std::size_t size);

}  // namespace differential
