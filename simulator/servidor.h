// Serves the clock device on a pseudo-terminal reached through a COM<n>
// symbolic link: client tracking, line timing, faults, log and screen.
#pragma once

#include "simulator/clock_device.h"
#include "simulator/linea.h"
#include "simulator/opciones.h"
#include "simulator/pantalla.h"

#include <cstdio>
#include <random>
#include <string>

namespace quarvel::sim {

class Servidor {
public:
    // Exits with status 1 or 2 if the port, link or log cannot be set up.
    explicit Servidor(const Options& options);
    ~Servidor();
    Servidor(const Servidor&) = delete;
    Servidor& operator=(const Servidor&) = delete;

    // Serves until a signal or the time limit; returns the exit status.
    int run();

private:
    struct Pty {
        int master = -1;
        int slave = -1; // held open so the master never sees hangup between clients
        std::string slavePath;
    };

    static FILE* openLog(const std::string& path);
    static int installSignalHandlers();
    static Pty openPty();
    void watchClients();

    void sendDue(Nanos now);
    Nanos showFace(Nanos now);
    bool waitAndServe(Nanos now, Nanos wake);
    void readClientEvents();
    void readCommands();
    void handle(Event& event, Nanos endReal, Nanos endMono);
    void applyReplyFaults(Event& event);
    void shutdown(bool vanished);

    Options opt_;
    FILE* log_;
    int signalFd_;
    Pty pty_;
    int inotifyFd_ = -1;
    bool trackClients_ = false;
    int clients_ = 0;
    std::string portName_;
    std::string linkPath_;
    ClockDevice device_;
    std::mt19937 rng_;
    IncomingLine incoming_;
    OutgoingLine outgoing_;
    Nanos latency_;
    Screen screen_;
    Nanos deadline_ = 0;
    Nanos knockAt_ = 0;
    bool knockArmed_ = false;
    Nanos masterPausedUntil_ = 0;
};

} // namespace quarvel::sim
