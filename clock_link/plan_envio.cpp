#include "clock_link/plan_envio.h"

#include "clock_link/config_linea.h"
#include "platform/fuente_hora.h"

#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

constexpr qint64 kUsPorSegundo = 1'000'000;
constexpr qint64 kUsPorMinuto = 60 * kUsPorSegundo;
// A clock whose seconds run close to the PC's carries its minute when the
// PC's minute changes. A change between a chain's first write and its seconds
// byte would carry the minute just written once more (a minute wrong), or
// not, by a hair: a chain stays this far from any change of minute.
constexpr qint64 kHolguraMinutoUs = kUsPorSegundo;

bool cambia_el_minuto(qint64 desde_us, qint64 hasta_us) {
    return (hasta_us / kUsPorMinuto) * kUsPorMinuto > desde_us;
}

qint64 segundo_siguiente(qint64 t_us) {
    return multiplo_tras(t_us, kUsPorSegundo, true);
}

PlanDeEnvio plan_en(qint64 borde_us, double hasta_el_byte_us) {
    PlanDeEnvio p;
    p.borde_us = borde_us;
    p.inicio_us = borde_us - std::llround(hasta_el_byte_us);
    p.borde = QDateTime::fromMSecsSinceEpoch(borde_us / 1000);
    return p;
}

} // namespace

double us_por_byte(const ConfigLinea& linea) {
    const double parada = linea.parada == 15 ? 1.5 : linea.parada;
    const double bits = 1 + linea.datos + (linea.paridad == 'N' ? 0 : 1) + parada;
    return bits * 1e6 / linea.baudios;
}

PlanDeEnvio planificar_envio(qint64 ahora_us, std::span<const PasoDeCadena> pasos,
                             std::size_t paso_segundos, double us_byte) {
    // From the start: when each step writes, and when the line is free again.
    double t_us = 0;
    double libre_us = 0;
    for (std::size_t i = 0; i <= paso_segundos; ++i) {
        if (i >= pasos.size() || pasos[i].retardo_ms <= 0) {
            // A timer of 0 never fires: the chain stops here.
            PlanDeEnvio p = plan_en(ahora_us - ahora_us % kUsPorSegundo, 0);
            p.inicio_us = ahora_us;
            p.llega = false;
            return p;
        }
        t_us += pasos[i].retardo_ms * 1000.0;
        libre_us = std::max(t_us, libre_us) + pasos[i].bytes * us_byte;
    }
    const qint64 llegada_us = ahora_us + static_cast<qint64>(std::ceil(libre_us));
    const qint64 primero = segundo_siguiente(llegada_us);
    // From the first write to the seconds byte's end.
    const qint64 tramo_us = std::llround(libre_us) - pasos[0].retardo_ms * 1000LL;
    for (qint64 borde = primero; borde < primero + kUsPorMinuto; borde += kUsPorSegundo) {
        if (!cambia_el_minuto(borde - tramo_us - kHolguraMinutoUs, borde + kHolguraMinutoUs))
            return plan_en(borde, libre_us);
    }
    // A chain longer than a minute cannot keep clear of every change.
    return plan_en(primero, libre_us);
}

PlanDeEnvio planificar_segundos(qint64 ahora_us, double us_byte) {
    const double hasta_el_byte_us = 2 * us_byte;
    qint64 borde = segundo_siguiente(ahora_us + static_cast<qint64>(std::ceil(hasta_el_byte_us)));
    const int s = QDateTime::fromMSecsSinceEpoch(borde / 1000).time().second();
    if (s < kPrimerSegundoSolo)
        borde += (kPrimerSegundoSolo - s) * kUsPorSegundo;
    else if (s > kUltimoSegundoSolo)
        borde += (60 - s + kPrimerSegundoSolo) * kUsPorSegundo;
    return plan_en(borde, hasta_el_byte_us);
}

} // namespace quarvel
