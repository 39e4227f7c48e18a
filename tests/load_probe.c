/* Loads the library as a host would, with lazy binding, and says whether the
 * loader took it: "load_probe LIB loads" or "load_probe LIB refuses SYMBOL". */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc < 3 ||
        (strcmp(argv[2], "loads") != 0 && (strcmp(argv[2], "refuses") != 0 || argc != 4))) {
        fprintf(stderr, "usage: %s LIBRARY loads | %s LIBRARY refuses SYMBOL\n", argv[0], argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_LAZY | RTLD_LOCAL);
    const char *error = library ? NULL : dlerror();
    if (strcmp(argv[2], "loads") == 0) {
        if (library) return 0;
        fprintf(stderr, "not loaded: %s\n", error);
        return 1;
    }
    if (!library) {
        if (strstr(error, argv[3])) return 0;
        fprintf(stderr, "refused, but not for %s: %s\n", argv[3], error);
        return 1;
    }
    fprintf(stderr, "loaded although %s is missing\n", argv[3]);
    return 1;
}
