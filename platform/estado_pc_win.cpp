#include "platform/estado_pc.h"

namespace quarvel {

// Windows keeps no "synchronised" flag nor estimated error a program can read
// (W32Time's state is its service's, asked through w32tm): unknown, which the
// history reports as such.
EstadoPc estado_reloj_pc() {
    return EstadoPc{};
}

} // namespace quarvel
