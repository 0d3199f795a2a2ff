#pragma once

namespace quarvel {

// The PC's own clock as the kernel sees it.
struct EstadoPc {
    bool conocido = false;
    bool sincronizado = false;
    // The kernel's estimated error, in seconds.
    double error_s = 0;
};

// Read from the kernel's time state (adjtimex), whatever keeps the clock:
// synchronised while a time daemon has told the kernel so.
EstadoPc estado_reloj_pc();

} // namespace quarvel
