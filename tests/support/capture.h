// What code under test writes to a stream or to this process's standard output.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

// What fn writes to a fresh stream.
inline std::string capture_stream(const std::function<void(FILE *)> &fn) {
    FILE *stream = std::tmpfile();
    fn(stream);
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) text.append(chunk, n);
    std::fclose(stream);
    return text;
}

// What fn writes to standard output of this process.
inline std::string capture_stdout(const std::function<void()> &fn) {
    return capture_stream([&](FILE *stream) {
        std::fflush(stdout);
        const int saved = ::dup(1);
        ::dup2(::fileno(stream), 1);
        fn();
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
    });
}
