// The lines the image operations report on standard output.
#pragma once

#include <string_view>

// Writes the text and a newline to standard output at once, and flushes it.
void printLine(std::string_view text);
