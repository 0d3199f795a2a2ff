#include "platform/estado_pc.h"

namespace quarvel {

EstadoPc estado_windows(std::optional<bool> ajuste_activo, std::optional<bool> servicio_hora) {
    EstadoPc r;
    if (!ajuste_activo)
        return r;
    if (*ajuste_activo) {
        r.conocido = true;
        r.sincronizado = true;
    } else if (servicio_hora && !*servicio_hora) {
        r.conocido = true;
        r.sincronizado = false;
    }
    return r;
}

} // namespace quarvel
