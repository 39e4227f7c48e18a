"""The Board API over the simulated board: typed results, ZoltError for
every nonzero status, argument checks, closing, and waits from threads."""

import datetime
import threading
import time

import pytest

import lv_zolt
from lv_zolt import _board

# 2026-03-14 09:26:53 UTC, day 73: a fixed instant for the manual clock.
INSTANT = int(datetime.datetime(2026, 3, 14, 9, 26, 53, tzinfo=datetime.timezone.utc)
              .timestamp()) * 1_000_000_000


@pytest.mark.parametrize("index", [0, 1])
def test_identity(simulator, index):
    simulator.reset()
    with lv_zolt.open(index, driver="simulator") as board:
        identity = board.identity()
        latitude, longitude, altitude = board.position()
    assert identity == lv_zolt.Identity(index, 4100 + index, 3, "02-07-13", "01-04-2A")
    assert latitude.degrees == 47 and latitude.minutes == pytest.approx(22.917 + 0.010 * index)
    assert longitude == pytest.approx((8, 32.533))
    assert longitude.decimal == pytest.approx(8 + 32.533 / 60)
    assert altitude == 408.5 + index


def test_time_and_date_go_through_in_the_right_order(simulator, board):
    simulator.manual_clock(INSTANT)
    assert board.get_time() == lv_zolt.Time(53.0, 26, 9, 73)
    assert board.get_date() == lv_zolt.Date(2026, 3, 14)
    board.set_time(seconds=7, minutes=8, hours=21, day=300, milliseconds=250)
    assert board.get_time() == lv_zolt.Time(7.25, 8, 21, 300)
    board.set_year(2028)
    assert board.get_date() == lv_zolt.Date(2028, 10, 26)   # day 300 of a leap year
    assert board.get_sat_info() == lv_zolt.SatInfo(9, 3)


@pytest.mark.parametrize("nanoseconds, shift", [(-1_000_000, -0.001), (250_000, 0.00025)])
def test_a_signed_delay_correction_moves_the_clock_its_way(simulator, board, nanoseconds, shift):
    simulator.manual_clock(INSTANT)
    board.set_prop_delay_corr(nanoseconds)
    assert board.get_time().seconds == pytest.approx(53.0 + shift, abs=1e-9)


def test_settings_reach_the_driver(board):
    board.set_oscillator(1)
    board.synch_control(2)
    board.synch_status(2)
    board.reset_firmware()
    board.synch_status(1)   # the power-on source again
    board.get_driver(3)


@pytest.mark.parametrize("call, export, status", [
    (lambda b: lv_zolt.open(5, driver="simulator"), "LV_ZOLT_open", 4),
    (lambda b: b.set_time(60, 0, 0, 1), "LV_ZOLT_setTime", 6),
    (lambda b: b.set_year(1969), "LV_ZOLT_setYear", 6),
    (lambda b: b.set_prop_delay_corr(1_000_001), "LV_ZOLT_setPropDelayCorr", 6),
    (lambda b: b.get_driver(4), "LV_ZOLT_getDriver", 10),
    (lambda b: (b.set_oscillator(2), b.synch_status(1)), "LV_ZOLT_synchStatus", 9),
    (lambda b: b.set_heartbeat(True, 10, 0, 0.0), "LV_ZOLT_setHeartbeat", 6),
    (lambda b: b.set_match_time(2, 0.0, 0, 0, 1), "LV_ZOLT_setMatchTime", 6),
    (lambda b: b.wait_heartbeat(timeout=0), "LV_ZOLT_waitHeartbeat", 8),
    (lambda b: b.wait_match(timeout=0), "LV_ZOLT_waitMatch", 8),
    (lambda b: b.wait_event(timeout=0), "LV_ZOLT_waitEvent", 7),
], ids=["open", "setTime", "setYear", "setPropDelayCorr", "getDriver", "synchStatus",
        "setHeartbeat", "setMatchTime", "waitHeartbeat", "waitMatch", "waitEvent"])
def test_a_nonzero_status_raises_with_status_and_export(board, call, export, status):
    with pytest.raises(lv_zolt.ZoltError) as raised:
        call(board)
    assert (raised.value.status, raised.value.export) == (status, export)
    assert str(raised.value) == f"{export} returned status {status}"


def test_a_zolt_error_survives_pickling():
    import pickle
    error = pickle.loads(pickle.dumps(lv_zolt.ZoltError("LV_ZOLT_waitEvent", 7)))
    assert (error.export, error.status) == ("LV_ZOLT_waitEvent", 7)


@pytest.mark.parametrize("call, error, words", [
    (lambda b: b.set_time(256, 0, 0, 1), ValueError, "seconds 256"),
    (lambda b: b.set_time(0, 0, 0, 70000), ValueError, "day 70000"),
    (lambda b: b.set_match_time(1, 0.0, 0, 0, 256), ValueError, "day 256"),
    (lambda b: b.set_heartbeat(True, 300, 0, 1.0), ValueError, "width 300"),
    (lambda b: b.set_heartbeat(True, 1, 0, "1"), TypeError, "period"),
    (lambda b: b.set_year(-1), ValueError, "year -1"),
    (lambda b: b.set_prop_delay_corr(2 ** 31), ValueError, "2147483648"),
    (lambda b: b.get_driver(1.5), TypeError, "revision"),
    (lambda b: lv_zolt.open(-1, driver="simulator"), ValueError, "index -1"),
    (lambda b: b.wait_event(timeout=-1), ValueError, "timeout -1"),
    (lambda b: b.wait_event(timeout=float("nan")), ValueError, "timeout nan"),
    (lambda b: b.wait_heartbeat(timeout="1"), TypeError, "timeout"),
    (lambda b: b.wait_match(timeout=4294967.295), ValueError, "wait without limit"),
])
def test_inputs_the_slots_cannot_carry_are_refused(board, call, error, words):
    """The library keeps only a slot's low bits: 256 would reach the driver
    as 0, so the package refuses it instead."""
    with pytest.raises(error, match=words):
        call(board)


@pytest.mark.parametrize("timeout, limit", [
    (None, 0xFFFFFFFF), (float("inf"), 0xFFFFFFFF), (0, 0), (0.0001, 1), (0.3, 300),
    (1.5, 1500), (4294967.294, 0xFFFFFFFE)])
def test_timeouts_become_millisecond_limits(timeout, limit):
    assert _board.wait_limit(timeout) == limit


def test_closing(simulator, board):
    handle = board.handle
    board.close()
    board.close()                       # again: nothing reaches the driver
    assert board.closed
    with pytest.raises(ValueError, match="closed"):
        board.get_time()
    with pytest.raises(RuntimeError):
        with lv_zolt.open(1, driver="simulator") as other:
            other_handle = other.handle
            raise RuntimeError("the host's own failure")
    assert other.closed
    from lv_zolt import _loader
    lib = _loader.loaded().lib
    # Both handles are closed in the driver, not only marked in Python.
    assert lib.LV_ZOLT_simEvent(handle) == 3 and lib.LV_ZOLT_simEvent(other_handle) == 3


def test_a_failing_close_raises_and_the_board_stays_closed(simulator, board):
    simulator.reset()                   # closes every handle in the driver
    with pytest.raises(lv_zolt.ZoltError) as raised:
        board.close()
    assert (raised.value.export, raised.value.status) == ("LV_ZOLT_close", 3)
    assert board.closed
    board.close()


def test_a_failing_close_does_not_hide_the_hosts_exception(simulator):
    simulator.reset()
    with pytest.raises(KeyError) as raised:
        with lv_zolt.open(0, driver="simulator"):
            simulator.reset()
            raise KeyError("the host's own failure")
    if hasattr(raised.value, "add_note"):
        assert raised.value.__notes__ == [
            "while leaving the board's context: LV_ZOLT_close returned status 3"]


def _in_thread(function):
    """Runs `function` in a thread; returns the thread and a dict that gets
    its result or its exception."""
    outcome = {}

    def body():
        try:
            outcome["result"] = function()
        except Exception as error:  # noqa: BLE001 - handed to the test
            outcome["error"] = error

    thread = threading.Thread(target=body, daemon=True)
    thread.start()
    return thread, outcome


def _until_waiting(simulator, thread):
    deadline = time.monotonic() + 30
    while simulator.waiting(0) == 0:
        assert thread.is_alive() and time.monotonic() < deadline, "the wait never started"
        time.sleep(0.001)


def test_an_event_raised_while_another_thread_waits_reaches_it(simulator, board):
    # The main thread runs Python while the other is inside the wait: the
    # interpreter is released during it, or the wait would time out first.
    thread, outcome = _in_thread(lambda: board.wait_event(timeout=30))
    _until_waiting(simulator, thread)
    board.sim_event()
    thread.join(30)
    event = outcome["result"]
    assert isinstance(event, lv_zolt.Event) and isinstance(event.time, lv_zolt.Time)
    assert (event.year, event.dropped, event.number) == (board.get_date().year, 0, 1)


def test_closing_the_board_ends_a_wait_in_another_thread(simulator, board):
    thread, outcome = _in_thread(lambda: board.wait_event(timeout=30))
    _until_waiting(simulator, thread)
    board.close()
    thread.join(30)
    error = outcome["error"]
    assert isinstance(error, lv_zolt.ZoltError)
    assert (error.export, error.status) == ("LV_ZOLT_waitEvent", 3)


@pytest.mark.parametrize("period, outcome_key", [(0.01, "result"), (3600.0, "error")],
                         ids=["beat", "timeout"])
def test_a_heartbeat_wait_in_a_thread_ends_at_a_beat_or_its_timeout(board, period, outcome_key):
    board.set_heartbeat(True, 5, 0, period)
    thread, outcome = _in_thread(lambda: board.wait_heartbeat(timeout=0.2))
    thread.join(30)
    assert list(outcome) == [outcome_key]
    if outcome_key == "error":
        assert (outcome["error"].export, outcome["error"].status) == ("LV_ZOLT_waitHeartbeat", 7)


def test_a_daily_match_wait_returns_when_the_clock_gets_there(board):
    now = board.get_time()
    target = (now.hours * 3600 + now.minutes * 60 + now.seconds + 0.05) % 86400
    hours, rest = divmod(target, 3600)
    minutes, seconds = divmod(rest, 60)
    board.set_match_time(1, seconds, int(minutes), int(hours), 0)
    board.wait_match(timeout=30)
