// Captures what the program writes to standard output from construction on (file descriptor 1,
// so lines written with printf are caught too). On destruction the captured text is passed on to
// standard error and the output restored.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(1);
        if (file_) dup2(fileno(file_), 1);
    }
    ~StdoutCapture()
    {
        const std::string captured = text();
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
        if (file_) std::fclose(file_);
        std::fputs(captured.c_str(), stderr);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far.
    std::string text() const
    {
        std::fflush(stdout);
        std::string out;
        if (!file_) return out;
        char buffer[4096];
        for (off_t at = 0;;) {
            const ssize_t got = pread(fileno(file_), buffer, sizeof buffer, at);
            if (got <= 0) break;
            out.append(buffer, std::size_t(got));
            at += got;
        }
        return out;
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
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};
