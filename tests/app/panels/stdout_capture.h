// Captures standard output (file descriptor 1, so printf is caught too) while it lives, then passes
// what it caught on to standard error.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()), saved_(dup(1)) { std::fflush(stdout), dup2(fileno(file_), 1); }
    ~StdoutCapture()
    {
        const std::string caught = text();
        dup2(saved_, 1), close(saved_), std::fclose(file_);
        std::fputs(caught.c_str(), stderr);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string text() const
    {
        std::fflush(stdout);
        std::string out(std::size_t(lseek(fileno(file_), 0, SEEK_END)), '\0');
        return out.empty() || pread(fileno(file_), out.data(), out.size(), 0) > 0 ? out : std::string();
    }
    // How many lines begin with `prefix`.
    int lines(const std::string& prefix) const
    {
        const std::string all = "\n" + text();
        int count = 0;
        for (std::size_t at = all.find("\n" + prefix); at != std::string::npos; at = all.find("\n" + prefix, at + 1))
            count++;
        return count;
    }

private:
    std::FILE* file_;
    int saved_;
};
