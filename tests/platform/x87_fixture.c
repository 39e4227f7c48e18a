/* A library that routes a real through the x87 stack (long double is x87 on
 * every x86 target; volatile keeps the compiler from folding the round trip)
 * in a helper that one of its exports calls: the disassembly check must find
 * it there. */
#include <stdint.h>

__attribute__((noinline)) static void copyThroughX87(double *to, const double *from) {
    volatile long double wide = *from;
    *to = (double)wide;
}

#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    uint8_t LV_ZOLT_setHeartbeat(double *to, const double *from) {
    copyThroughX87(to, from);
    return 0;
}
