"""The board: one open handle and a method for every export."""

from __future__ import annotations

import ctypes
import math
import os
import threading
from ctypes import byref, c_double, c_float, c_int16, c_uint8, c_uint16
from typing import NamedTuple

from . import _loader
from ._exports import ID_TEXT_SIZE, Handle

WAIT_FOREVER = 0xFFFFFFFF
_U8, _U16, _U32 = 0xFF, 0xFFFF, 0xFFFFFFFF


class ZoltError(Exception):
    """An export returned a nonzero status: the driver's failure code.

    `status` is the status byte, unchanged; `export` the export's name, for
    example "LV_ZOLT_open". What each code means is the driver's (the
    simulated board's codes are listed in its manual, zolt_simulator.h).
    """

    def __init__(self, export: str, status: int):
        super().__init__(f"{export} returned status {status}")
        self.export = export
        self.status = status

    def __reduce__(self):
        return type(self), (self.export, self.status)


class Time(NamedTuple):
    """The board's time: seconds within the minute (with fraction), minutes,
    hours, and the day of the year (1 January is day 1)."""
    seconds: float
    minutes: int
    hours: int
    day: int


class Date(NamedTuple):
    year: int
    month: int
    day: int


class Angle(NamedTuple):
    """Signed whole degrees and signed minutes of arc, both with the angle's
    sign (north and east positive): 12 degrees 30 minutes west is (-12, -30.0)."""
    degrees: int
    minutes: float

    @property
    def decimal(self) -> float:
        """The angle in degrees with fraction."""
        return self.degrees + self.minutes / 60.0


class SatInfo(NamedTuple):
    """Satellites tracked and the fix (0 none, 2 two-, 3 three-dimensional)."""
    satellites: int
    fix: int


class Position(NamedTuple):
    latitude: Angle
    longitude: Angle
    altitude: float   # metres above mean sea level


class Event(NamedTuple):
    """An event: its time tag, the tag's year, how many events a full queue
    dropped just before it, and its number on the board (low 8 bits)."""
    time: Time
    year: int
    dropped: int
    number: int


class Identity(NamedTuple):
    index: int
    value: int            # the board value LV_ZOLT_open delivered
    driver_revision: int  # highest revision from 1 up that LV_ZOLT_getDriver accepts
    firmware: str
    fpga: str


def _unsigned(name: str, value, mask: int) -> int:
    """`value` as a slot input of `mask`'s width; anything wider is an error,
    since the library would silently drop the high bits."""
    if isinstance(value, bool):
        value = int(value)
    if not isinstance(value, int):
        raise TypeError(f"{name} must be an integer, not {value!r}")
    if not 0 <= value <= mask:
        raise ValueError(f"{name} {value} is outside 0..{mask}")
    return value


def _real(name: str, value) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number, not {value!r}")
    return float(value)


def wait_limit(timeout) -> int:
    """A timeout in seconds as the wait's 32-bit limit in milliseconds: None
    (or infinity) waits without limit, 0 only looks, anything else is rounded
    up to the next millisecond so that a short timeout never becomes 0."""
    if timeout is None:
        return WAIT_FOREVER
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
        raise TypeError(f"timeout must be seconds or None, not {timeout!r}")
    if math.isnan(timeout) or timeout < 0:
        raise ValueError(f"timeout {timeout!r} must be 0 or more seconds, or None")
    if math.isinf(timeout):
        return WAIT_FOREVER
    limit = math.ceil(round(timeout * 1000.0, 6))
    if limit >= WAIT_FOREVER:
        raise ValueError(f"timeout {timeout!r} s is longer than the longest limited wait "
                         f"({(WAIT_FOREVER - 1) / 1000} s); pass None to wait without limit")
    return limit


class Board:
    """An open board. Use it as a context manager, or call close().

    Every method calls one export and raises ZoltError when it returns a
    nonzero status. The waits block only their calling thread: the
    interpreter is released while they wait, so other threads run.
    """

    def __init__(self, loaded: _loader.Loaded, index: int, handle: int, value: int):
        self._loaded = loaded
        self._lib = loaded.lib
        self.index = index
        self.value = value
        self._handle = handle
        self._closed = False
        self._close_lock = threading.Lock()

    def __repr__(self) -> str:
        state = "closed" if self._closed else f"handle 0x{self._handle:x}"
        return f"<lv_zolt.Board {self.index}, board value {self.value}, {state}>"

    def __enter__(self) -> Board:
        return self

    def __exit__(self, exc_type, exc, traceback) -> None:
        if exc is None:
            self.close()
            return
        # The host's own exception goes on; a failing close must not replace it.
        try:
            self.close()
        except ZoltError as error:
            if hasattr(exc, "add_note"):
                exc.add_note(f"while leaving the board's context: {error}")

    @property
    def handle(self) -> int:
        """The driver's handle, for a host that also calls the exports itself."""
        return self._handle

    @property
    def closed(self) -> bool:
        return self._closed

    @property
    def driver_file(self) -> str | None:
        """The driver library LV_zolt bound, when it can be told."""
        return self._loaded.driver_file

    def _call(self, export: str, *args) -> None:
        if self._closed:
            raise ValueError(f"{export}: board {self.index} is closed")
        status = getattr(self._lib, export)(self._handle, *args)
        if status != 0:
            raise ZoltError(export, status)

    def close(self) -> None:
        """Closes the handle (LV_ZOLT_close). Closing again does nothing: a
        second LV_ZOLT_close would hand the driver a stale handle."""
        with self._close_lock:
            if self._closed:
                return
            self._closed = True
        status = self._lib.LV_ZOLT_close(self._handle)
        if status != 0:
            raise ZoltError("LV_ZOLT_close", status)

    # Pass-through exports: the 32-bit value reaches the driver unchanged.
    def get_driver(self, revision: int) -> None:
        """LV_ZOLT_getDriver: raises unless the driver serves `revision`."""
        self._call("LV_ZOLT_getDriver", _unsigned("revision", revision, _U32))

    def driver_revision(self, highest: int = 255) -> int:
        """The highest revision from 1 up to `highest` that get_driver accepts,
        0 when it accepts none."""
        revision = 0
        for candidate in range(1, highest + 1):
            try:
                self.get_driver(candidate)
            except ZoltError:
                break
            revision = candidate
        return revision

    def reset_firmware(self) -> None:
        """LV_ZOLT_resetFirmware."""
        self._call("LV_ZOLT_resetFirmware")

    def set_oscillator(self, source: int) -> None:
        """LV_ZOLT_setOscillator."""
        self._call("LV_ZOLT_setOscillator", _unsigned("source", source, _U32))

    def set_prop_delay_corr(self, nanoseconds: int) -> None:
        """LV_ZOLT_setPropDelayCorr: a signed 32-bit correction, passed as its
        two's-complement bits."""
        if isinstance(nanoseconds, bool) or not isinstance(nanoseconds, int):
            raise TypeError(f"nanoseconds must be an integer, not {nanoseconds!r}")
        if not -0x80000000 <= nanoseconds <= 0x7FFFFFFF:
            raise ValueError(f"nanoseconds {nanoseconds} is outside the signed 32-bit range")
        self._call("LV_ZOLT_setPropDelayCorr", nanoseconds & _U32)

    def sim_event(self) -> None:
        """LV_ZOLT_simEvent: raises an event on the board."""
        self._call("LV_ZOLT_simEvent")

    def synch_control(self, source: int) -> None:
        """LV_ZOLT_synchControl."""
        self._call("LV_ZOLT_synchControl", _unsigned("source", source, _U32))

    def synch_status(self, source: int) -> None:
        """LV_ZOLT_synchStatus: raises unless the board is synchronised to
        `source`."""
        self._call("LV_ZOLT_synchStatus", _unsigned("source", source, _U32))

    # Identification.
    def _id_text(self, export: str) -> str:
        text = ctypes.create_string_buffer(ID_TEXT_SIZE)
        self._call(export, text)
        return text.value.decode("ascii", "replace")

    def get_firmware(self) -> str:
        """LV_ZOLT_getFirmware: the firmware identifier, "XX-XX-XX"."""
        return self._id_text("LV_ZOLT_getFirmware")

    def get_fpga(self) -> str:
        """LV_ZOLT_getFPGA: the FPGA identifier, "XX-XX-XX"."""
        return self._id_text("LV_ZOLT_getFPGA")

    def identity(self) -> Identity:
        """Board value, driver revision, firmware and FPGA identifiers."""
        return Identity(self.index, self.value, self.driver_revision(), self.get_firmware(),
                        self.get_fpga())

    # Time and date.
    def get_time(self) -> Time:
        """LV_ZOLT_getTime."""
        seconds, minutes, hours, day = c_double(), c_uint8(), c_uint8(), c_uint16()
        self._call("LV_ZOLT_getTime", byref(seconds), byref(minutes), byref(hours), byref(day))
        return Time(seconds.value, minutes.value, hours.value, day.value)

    def set_time(self, seconds: int, minutes: int, hours: int, day: int,
                 milliseconds: int = 0) -> None:
        """LV_ZOLT_setTime: whole seconds, minutes, hours (8 bits each), day of
        the year and milliseconds (16 bits each)."""
        self._call("LV_ZOLT_setTime", _unsigned("seconds", seconds, _U8),
                   _unsigned("minutes", minutes, _U8), _unsigned("hours", hours, _U8),
                   _unsigned("day", day, _U16), _unsigned("milliseconds", milliseconds, _U16))

    def get_date(self) -> Date:
        """LV_ZOLT_getDate."""
        year, month, day = c_uint16(), c_uint8(), c_uint8()
        self._call("LV_ZOLT_getDate", byref(year), byref(month), byref(day))
        return Date(year.value, month.value, day.value)

    def set_year(self, year: int) -> None:
        """LV_ZOLT_setYear."""
        self._call("LV_ZOLT_setYear", _unsigned("year", year, _U32))

    # Position.
    def get_altitude(self) -> float:
        """LV_ZOLT_getAltitude: metres, a 32-bit real."""
        altitude = c_float()
        self._call("LV_ZOLT_getAltitude", byref(altitude))
        return altitude.value

    def _angle(self, export: str) -> Angle:
        degrees, minutes = c_int16(), c_float()
        self._call(export, byref(degrees), byref(minutes))
        return Angle(degrees.value, minutes.value)

    def get_latitude(self) -> Angle:
        """LV_ZOLT_getLatitude."""
        return self._angle("LV_ZOLT_getLatitude")

    def get_longitude(self) -> Angle:
        """LV_ZOLT_getLongitude."""
        return self._angle("LV_ZOLT_getLongitude")

    def get_sat_info(self) -> SatInfo:
        """LV_ZOLT_getSatInfo."""
        satellites, fix = c_uint8(), c_uint8()
        self._call("LV_ZOLT_getSatInfo", byref(satellites), byref(fix))
        return SatInfo(satellites.value, fix.value)

    def position(self) -> Position:
        """Latitude, longitude and altitude together."""
        return Position(self.get_latitude(), self.get_longitude(), self.get_altitude())

    # Timing signals and waits.
    def set_heartbeat(self, enable: bool | int, width: int = 0, polarity: int = 0,
                      period: float = 0.0) -> None:
        """LV_ZOLT_setHeartbeat: on/off, pulse width, polarity (8 bits each)
        and the period in seconds."""
        self._call("LV_ZOLT_setHeartbeat", _unsigned("enable", enable, _U8),
                   _unsigned("width", width, _U8), _unsigned("polarity", polarity, _U8),
                   _real("period", period))

    def set_match_time(self, mode: int, seconds: float = 0.0, minutes: int = 0,
                       hours: int = 0, day: int = 0) -> None:
        """LV_ZOLT_setMatchTime: mode, then a time (seconds with fraction,
        minutes, hours, day of the year). The day passes as 8 bits, so only 0
        to 255 can be set."""
        self._call("LV_ZOLT_setMatchTime", _unsigned("mode", mode, _U8),
                   _real("seconds", seconds), _unsigned("minutes", minutes, _U8),
                   _unsigned("hours", hours, _U8), _unsigned("day", day, _U8))

    def wait_heartbeat(self, timeout: float | None = None) -> None:
        """LV_ZOLT_waitHeartbeat: waits for the next beat, at most `timeout`
        seconds (None: without limit)."""
        self._call("LV_ZOLT_waitHeartbeat", wait_limit(timeout))

    def wait_match(self, timeout: float | None = None) -> None:
        """LV_ZOLT_waitMatch: waits until the match time, at most `timeout`
        seconds (None: without limit)."""
        self._call("LV_ZOLT_waitMatch", wait_limit(timeout))

    def wait_event(self, timeout: float | None = None) -> Event:
        """LV_ZOLT_waitEvent: the oldest queued event, or the next one, waiting
        at most `timeout` seconds (None: without limit)."""
        limit = wait_limit(timeout)
        seconds, minutes, hours, day = c_double(), c_uint8(), c_uint8(), c_uint16()
        year, dropped, number = c_uint16(), c_uint8(), c_uint8()
        self._call("LV_ZOLT_waitEvent", byref(seconds), byref(minutes), byref(hours),
                   byref(day), byref(year), byref(dropped), byref(number), limit)
        return Event(Time(seconds.value, minutes.value, hours.value, day.value), year.value,
                     dropped.value, number.value)


def open(index: int = 0, *,  # noqa: A001
         driver: str | os.PathLike[str] | None = None,
         library: str | os.PathLike[str] | None = None) -> Board:
    """Opens board `index` through LV_zolt (LV_ZOLT_open).

    driver: None for $LV_ZOLT_DRIVER or, unset, the system's driver (the zolt
    beside LV_zolt or on the loader's path); "simulator" for the simulated
    board in this package; "replay:TRACE" for the replay driver over a trace
    file, when this package carries it; or the path of a zolt library. A
    process has one driver: asking for another after the first has loaded
    raises DriverConflictError.

    library: the path of LV_zolt; None for $LV_ZOLT_LIBRARY or, unset, the
    copy in this package.
    """
    index = _unsigned("index", index, _U32)
    loaded = _loader.load(library, driver)
    handle, value = Handle(), c_uint16()
    status = loaded.lib.LV_ZOLT_open(byref(handle), index, byref(value))
    if status != 0:
        raise ZoltError("LV_ZOLT_open", status)
    return Board(loaded, index, handle.value, value.value)
