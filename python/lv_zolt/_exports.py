"""ctypes declarations of the 24 LV_zolt exports.

Every export is declared with its exact argument types, so ctypes converts
each Python value to the right width and a wrong call fails in Python
instead of corrupting the stack: narrow inputs are 32-bit slots (c_uint32),
the board handle is an unsigned integer of pointer width (c_size_t), reals by
value are c_double, out-parameters are pointers to single values, and the
result is the driver's unsigned 8-bit status.

This module imports nothing but ctypes, so that checks can read it on its
own.
"""

import ctypes
from ctypes import POINTER, c_char, c_double, c_float, c_int16, c_size_t, c_uint8, c_uint16, c_uint32

Handle = c_size_t
Status = c_uint8

# Export name -> argument types, in the header's order. The result of every
# export is Status.
EXPORTS = {
    "LV_ZOLT_open": (POINTER(Handle), c_uint32, POINTER(c_uint16)),
    "LV_ZOLT_close": (Handle,),
    "LV_ZOLT_getDriver": (Handle, c_uint32),
    "LV_ZOLT_resetFirmware": (Handle,),
    "LV_ZOLT_setOscillator": (Handle, c_uint32),
    "LV_ZOLT_setPropDelayCorr": (Handle, c_uint32),
    "LV_ZOLT_simEvent": (Handle,),
    "LV_ZOLT_synchControl": (Handle, c_uint32),
    "LV_ZOLT_synchStatus": (Handle, c_uint32),
    "LV_ZOLT_getFirmware": (Handle, POINTER(c_char)),
    "LV_ZOLT_getFPGA": (Handle, POINTER(c_char)),
    "LV_ZOLT_getTime": (Handle, POINTER(c_double), POINTER(c_uint8), POINTER(c_uint8),
                        POINTER(c_uint16)),
    "LV_ZOLT_setTime": (Handle, c_uint32, c_uint32, c_uint32, c_uint32, c_uint32),
    "LV_ZOLT_getDate": (Handle, POINTER(c_uint16), POINTER(c_uint8), POINTER(c_uint8)),
    "LV_ZOLT_setYear": (Handle, c_uint32),
    "LV_ZOLT_getAltitude": (Handle, POINTER(c_float)),
    "LV_ZOLT_getLatitude": (Handle, POINTER(c_int16), POINTER(c_float)),
    "LV_ZOLT_getLongitude": (Handle, POINTER(c_int16), POINTER(c_float)),
    "LV_ZOLT_getSatInfo": (Handle, POINTER(c_uint8), POINTER(c_uint8)),
    "LV_ZOLT_setHeartbeat": (Handle, c_uint32, c_uint32, c_uint32, c_double),
    "LV_ZOLT_setMatchTime": (Handle, c_uint32, c_double, c_uint32, c_uint32, c_uint32),
    "LV_ZOLT_waitHeartbeat": (Handle, c_uint32),
    "LV_ZOLT_waitMatch": (Handle, c_uint32),
    "LV_ZOLT_waitEvent": (Handle, POINTER(c_double), POINTER(c_uint8), POINTER(c_uint8),
                          POINTER(c_uint16), POINTER(c_uint16), POINTER(c_uint8),
                          POINTER(c_uint8), c_uint32),
}

# Bytes the identification exports write: "XX-XX-XX" and a NUL.
ID_TEXT_SIZE = 9


def declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    """Gives every export of a loaded LV_zolt its argument and result types."""
    for name, argtypes in EXPORTS.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = Status
    return lib
