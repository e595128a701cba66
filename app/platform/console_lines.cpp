#include "console_lines.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace lumenfield {

namespace {

void writeLine(std::FILE* stream, std::string_view text)
{
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

} // namespace

void printLine(std::string_view text)
{
    writeLine(stdout, text);
}

void printLineFormatted(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text;
    if (length > 0) {
        text.resize(std::size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(std::size_t(length));
    }
    va_end(again);
    writeLine(stdout, text);
}

void printErrorLine(std::string_view text)
{
    writeLine(stderr, text);
}

} // namespace lumenfield
