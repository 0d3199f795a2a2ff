#pragma once

#include <optional>

namespace quarvel {

// The PC's own clock as the system sees it.
struct EstadoPc {
    bool conocido = false;
    bool sincronizado = false;
    // The system's estimated error, in seconds, where it gives one (Linux's
    // kernel does; Windows does not).
    std::optional<double> error_s;
};

// Read from what the system says of its clock: on Linux the kernel's time
// state (adjtimex), synchronised while a time daemon has told the kernel so;
// on Windows see estado_windows.
EstadoPc estado_reloj_pc();

// What Windows tells, put together. `ajuste_activo`: whether something
// steers the clock's rate (GetSystemTimeAdjustment's "disabled" false),
// empty where the call failed. `servicio_hora`: whether the time service
// runs, empty where it could not be asked.
// Steered: synchronised, with no error given. Not steered and no time
// service: nothing keeps it. Not steered while the service runs: it may set
// the clock by steps between polls, so unknown.
EstadoPc estado_windows(std::optional<bool> ajuste_activo, std::optional<bool> servicio_hora);

} // namespace quarvel
