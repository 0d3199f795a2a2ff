#include "platform/estado_pc.h"

#include <sys/timex.h>

namespace quarvel {

EstadoPc estado_reloj_pc() {
    timex tx{};
    // Mode 0 only reads: no privilege needed.
    const int estado = adjtimex(&tx);
    EstadoPc r;
    if (estado < 0)
        return r;
    r.conocido = true;
    r.sincronizado = estado != TIME_ERROR && (tx.status & STA_UNSYNC) == 0;
    r.error_s = static_cast<double>(tx.esterror) / 1e6;
    return r;
}

} // namespace quarvel
