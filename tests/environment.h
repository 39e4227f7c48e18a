// Setting and clearing an environment variable in a test, on every target:
// Windows has no setenv, and there an empty value clears the variable.
#pragma once

#include <cstdlib>

namespace testenv {

// A null value clears the variable.
inline void set(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

}  // namespace testenv
