#include "console.h"

#include <cstdio>
#include <string>

void printLine(std::string_view text)
{
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
