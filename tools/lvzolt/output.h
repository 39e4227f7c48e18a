// What lvzolt prints: one line per answer, as text or as a JSON object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lvzolt {

// A JSON object built one member at a time; numbers in their shortest form
// that reads back to the same value.
class Json {
   public:
    Json& add(const char* key, std::int64_t value);
    Json& add(const char* key, double value);
    Json& add(const char* key, float value);
    Json& add(const char* key, const std::string& value);
    Json& add(const char* key, const Json& object);
    std::string str() const { return "{" + members + "}"; }

   private:
    void key(const char* name);
    std::string members;
};

// "HH:MM:SS.uuuuuu", the seconds cut (not rounded) to the microsecond.
std::string timeOfDay(unsigned hours, unsigned minutes, double seconds);

// Shortest decimal form of a number that reads back to the same value.
std::string shortest(double value);
std::string shortest(float value);

// Output that could not be written: the system's reason.
struct WriteError {
    std::string reason;
};

// Prints text on out and flushes it, so that a watch shows live; throws
// WriteError when it cannot.
void print(std::FILE* out, const std::string& text);
inline void printLine(std::FILE* out, const std::string& line) { print(out, line + "\n"); }

}  // namespace lvzolt
