// Command line of simulador_reloj.
#pragma once

#include <optional>
#include <string>

namespace quarvel::sim {

struct Options {
    std::string dir = ".";
    int port = 1;
    double offset = 0;
    double driftPpm = 0;
    bool utc = false;
    bool timeOnly = false;
    long baud = 9600;
    double latencyMs = 20;
    // The clock read this long after "CX" arrives (an answer latency the
    // checker does not know).
    double sampleMs = 0;
    std::string logPath;
    bool quiet = false;
    bool noReply = false;
    bool garbageReply = false;
    bool slowLine = false;
    int ignoreEvery = 0;
    long flood = 0; // filler bytes per second, 0 for none
    double vanishAfter = 0;
    double runFor = 0;
    // The clock knocked by knockSeconds, knockAfter seconds after its first
    // set ends: a program slow to start still finds the knock after its set.
    double knockAfter = 0;
    double knockSeconds = 0;
    std::optional<unsigned> seed;
};

// Exits with status 0 after --help or --version and 2 on a wrong option.
Options parseOptions(int argc, char** argv);

[[noreturn]] void usageError(const std::string& message);

} // namespace quarvel::sim
