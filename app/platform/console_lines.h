// The lines the program writes to its standard output and standard error. Every console line of
// the application goes through here: each line is written whole, with its newline, in one call and
// flushed at once, so that lines of different threads do not mix and a line is out before the
// program can end.
#pragma once

#include <string_view>

namespace lumenfield {

// Writes the text and a newline to standard output.
void printLine(std::string_view text);

// Writes the text printf formats from `format` and the arguments, and a newline, to standard output.
void printLineFormatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the text and a newline to standard error.
void printErrorLine(std::string_view text);

} // namespace lumenfield
