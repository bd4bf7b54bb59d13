// sigrok-cli, the independent protocol decoder the trace tests read waveforms with.
#ifndef SIGROK_H
#define SIGROK_H

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

// What a shell command prints on standard output; "" when it cannot be started.
inline std::string command_output(const std::string &command) {
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
    return out;
}

// Whether sigrok-cli is installed with its VCD input and every decoder named. Its listing
// gives each input format and decoder on a line of its own, indented by two.
inline bool sigrok_decodes(std::initializer_list<const char *> decoders) {
    const std::string listing = command_output("sigrok-cli -L 2>/dev/null");
    if (listing.find("\n  vcd ") == std::string::npos) return false;
    for (const char *decoder : decoders)
        if (listing.find(std::string("\n  ") + decoder + " ") == std::string::npos) return false;
    return true;
}

#endif
