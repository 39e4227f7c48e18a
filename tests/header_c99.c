/* The public header on its own, as a C99 host includes it: every export
 * must be declared with a matching prototype. */
#include "LV_zolt.h"

typedef void (*AnyExport)(void);

const AnyExport lv_zolt_c99_exports[] = {
    (AnyExport)LV_ZOLT_open,          (AnyExport)LV_ZOLT_close,
    (AnyExport)LV_ZOLT_getDriver,     (AnyExport)LV_ZOLT_resetFirmware,
    (AnyExport)LV_ZOLT_setOscillator, (AnyExport)LV_ZOLT_setPropDelayCorr,
    (AnyExport)LV_ZOLT_simEvent,      (AnyExport)LV_ZOLT_synchControl,
    (AnyExport)LV_ZOLT_synchStatus,   (AnyExport)LV_ZOLT_getFirmware,
    (AnyExport)LV_ZOLT_getFPGA,       (AnyExport)LV_ZOLT_getTime,
    (AnyExport)LV_ZOLT_setTime,       (AnyExport)LV_ZOLT_getDate,
    (AnyExport)LV_ZOLT_setYear,       (AnyExport)LV_ZOLT_getAltitude,
    (AnyExport)LV_ZOLT_getLatitude,   (AnyExport)LV_ZOLT_getLongitude,
    (AnyExport)LV_ZOLT_getSatInfo,    (AnyExport)LV_ZOLT_setHeartbeat,
    (AnyExport)LV_ZOLT_setMatchTime,  (AnyExport)LV_ZOLT_waitHeartbeat,
    (AnyExport)LV_ZOLT_waitMatch,     (AnyExport)LV_ZOLT_waitEvent,
};
