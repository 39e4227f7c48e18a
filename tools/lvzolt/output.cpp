#include "output.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace lvzolt {

namespace {
template <class T>
std::string toChars(T value) {
    if (!std::isfinite(value)) return "null";  // JSON has no NaN or infinity
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
}  // namespace

std::string shortest(double value) { return toChars(value); }
std::string shortest(float value) { return toChars(value); }

void Json::key(const char* name) {
    if (!members.empty()) members += ',';
    members += quoted(name) + ':';
}

Json& Json::add(const char* name, std::int64_t value) {
    key(name);
    members += std::to_string(value);
    return *this;
}
Json& Json::add(const char* name, double value) {
    key(name);
    members += shortest(value);
    return *this;
}
Json& Json::add(const char* name, float value) {
    key(name);
    members += shortest(value);
    return *this;
}
Json& Json::add(const char* name, const std::string& value) {
    key(name);
    members += quoted(value);
    return *this;
}
Json& Json::add(const char* name, const Json& object) {
    key(name);
    members += object.str();
    return *this;
}

std::string timeOfDay(unsigned hours, unsigned minutes, double seconds) {
    // Truncated to the microsecond, but a real just below a whole microsecond
    // only through its binary form (4.8 s) shows as that microsecond on
    // every target, whatever precision the product is computed in.
    const double us = std::isfinite(seconds) ? std::floor(seconds * 1e6 + 1e-6) : 0.0;
    const auto whole = static_cast<long long>(us);
    char text[40];
    std::snprintf(text, sizeof text, "%02u:%02u:%02lld.%06lld", hours, minutes, whole / 1000000,
                  whole % 1000000);
    return text;
}

void print(std::FILE* out, const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0 ||
        std::ferror(out))
        throw WriteError{errno != 0 ? std::strerror(errno) : "write error"};
}

}  // namespace lvzolt
