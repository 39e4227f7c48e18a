// An account of the 24 exports written from the driver interface's record
// tables alone: for each export, which argument bytes land at which record
// offsets, and which record bytes reach which out-parameter, at what width
// and under which status. It uses none of the layer's record declarations or
// helpers, so a byte that the layer puts in the wrong place, at the wrong
// width or at the wrong time shows up as a difference between the two.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "LV_zolt.h"

namespace model {

inline constexpr std::size_t kPointer = sizeof(void*);
inline constexpr std::size_t kMaxArgs = 10;  // argument positions 1..9 (1 is the board handle)

// One call as the host makes it: an integer of up to 64 bits per argument
// position (32-bit slots take the low half, reals the bit pattern) and, for
// each out-parameter position, its byte offset in the host's area.
struct Call {
    LV_ZOLT_Handle handle = 0;
    std::array<std::uint64_t, kMaxArgs> args{};
    std::array<std::size_t, kMaxArgs> outAt{};
    std::uint8_t* area = nullptr;

    std::uint32_t slot(std::size_t arg) const { return static_cast<std::uint32_t>(args[arg]); }
    // Inline, so that the bits go straight to the argument: a real returned
    // from a call passes through the x87 stack on i386, which quiets
    // signalling NaNs.
    double real(std::size_t arg) const {
        double d;
        std::memcpy(&d, &args[arg], sizeof d);
        return d;
    }
    template <class T>
    T* out(std::size_t arg) const {
        return reinterpret_cast<T*>(area + outAt[arg]);
    }
};

// What the driver operation is given besides the handle.
enum class Shape { handleOnly, value, record, open };

// The low `width` bytes of argument `arg` go to record byte `offset`; the
// record field there is `field` bytes wide, its bytes above `width` zero.
struct In {
    std::size_t arg;
    std::size_t offset;
    std::size_t width;
    std::size_t field;
};

enum class From {
    record,  // record bytes [offset, offset + width) after the driver returned
    board,   // bytes of the board record behind the handle the driver delivered
    idText,  // record bytes 0-2 as "%02X-%02X-%02X" and a NUL (width 9)
};
enum class When { always, onSuccess };

// Out-parameter `arg` receives `width` bytes.
struct Out {
    std::size_t arg;
    From from;
    std::size_t offset;
    std::size_t width;
    When when;
};

struct Export {
    const char* name;      // the host's name, LV_ZOLT_...
    const char* driverOp;  // the driver operation it must call, ZOLT_...
    Shape shape;
    std::size_t recordSize;  // bytes handed to the driver (open: its handle variable)
    std::vector<In> ins;
    std::vector<Out> outs;  // in argument order, the order of the writes
    std::uint8_t (*call)(const Call&);
};

const std::vector<Export>& exports();

// The record as the driver must find it: the layer clears every byte it
// hands over, then stores the inputs.
std::vector<std::uint8_t> arrival(const Export& e, const Call& c);

// Applies the host writes that follow the driver's return of `status`, with
// the record holding `record` and the board record (if any) at `board`, to
// `host`, which starts as the host's area before the call.
void hostWrites(const Export& e, const Call& c, std::uint8_t status,
                const std::vector<std::uint8_t>& record, const std::uint8_t* board,
                std::uint8_t* host);

}  // namespace model
