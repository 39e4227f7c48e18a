/* A minimal LV_zolt host: opens a board, prints its identification and its
 * time, closes it. Usage: read_board [board-index]. Exits 1 when an export
 * reports a nonzero status, naming the export and the status byte. */
#include <stdio.h>
#include <stdlib.h>

#include "LV_zolt.h"

static int failed(const char *name, uint8_t status) {
    if (status == 0) return 0;
    fprintf(stderr, "read_board: %s returned status %u\n", name, (unsigned)status);
    return 1;
}

int main(int argc, char **argv) {
    uint32_t index = 0;
    if (argc > 2) {
        fprintf(stderr, "usage: read_board [board-index]\n");
        return 2;
    }
    if (argc == 2) {
        char *end;
        unsigned long parsed = strtoul(argv[1], &end, 10);
        if (*argv[1] == '\0' || *end != '\0' || parsed > 0xFFFFFFFFul) {
            fprintf(stderr, "usage: read_board [board-index]\n");
            return 2;
        }
        index = (uint32_t)parsed;
    }

    LV_ZOLT_Handle board;
    uint16_t boardValue = 0;
    if (failed("LV_ZOLT_open", LV_ZOLT_open(&board, index, &boardValue))) return 1;

    char firmware[9], fpga[9]; /* "XX-XX-XX" and a NUL */
    double real;
    uint8_t byte1, byte2;
    uint16_t word;
    int bad = failed("LV_ZOLT_getFirmware", LV_ZOLT_getFirmware(board, firmware)) ||
              failed("LV_ZOLT_getFPGA", LV_ZOLT_getFPGA(board, fpga)) ||
              failed("LV_ZOLT_getTime", LV_ZOLT_getTime(board, &real, &byte1, &byte2, &word));
    if (!bad) {
        printf("board %lu: board value %u\n", (unsigned long)index, (unsigned)boardValue);
        printf("firmware %s\nFPGA     %s\n", firmware, fpga);
        printf("time     %.17g %u %u %u\n", real, (unsigned)byte1, (unsigned)byte2, (unsigned)word);
    }
    if (failed("LV_ZOLT_close", LV_ZOLT_close(board))) bad = 1;
    return bad;
}
