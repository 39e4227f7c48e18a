"""lv_zolt: the zolt timing board from Python, through LV_zolt.

    import lv_zolt
    with lv_zolt.open(0, driver="simulator") as board:
        print(board.get_firmware(), board.get_time())

Importing loads nothing: LV_zolt and its driver are loaded by the first
open(). LV_zolt is the library= path given, else $LV_ZOLT_LIBRARY, else the
copy in this package. Every nonzero status raises ZoltError, which carries
the status byte and the export's name.
"""

from ._board import (Angle, Board, Date, Event, Identity, Position, SatInfo, Time,
                     WAIT_FOREVER, ZoltError, open)
from ._loader import DriverConflictError, LibraryError

# Tracebacks and pickles name the public classes where users import them.
for _public in (Angle, Board, Date, DriverConflictError, Event, Identity, LibraryError,
                Position, SatInfo, Time, ZoltError):
    _public.__module__ = __name__
del _public

try:
    from ._version import __version__
except ImportError:   # running from the source tree, not from a build
    __version__ = "0+unknown"

__all__ = ["Angle", "Board", "Date", "DriverConflictError", "Event", "Identity",
           "LibraryError", "Position", "SatInfo", "Time", "WAIT_FOREVER", "ZoltError",
           "open", "__version__"]
