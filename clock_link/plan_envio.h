#pragma once

#include <QDateTime>
#include <cstddef>
#include <span>

namespace quarvel {

struct ConfigLinea;

// Microseconds one byte takes on the line: start bit, data bits, parity bit
// and stop bits at the baud rate.
double us_por_byte(const ConfigLinea& linea);

// One step of a chain that sets the clock: its wait after the step before it
// (after the chain's start, for the first) and how many bytes it writes.
struct PasoDeCadena {
    int retardo_ms = 0;
    int bytes = 2;
};

// When a setting of the clock starts and what it sends. The clock starts the
// second it is given when the seconds value byte arrives, so the chain is
// timed for that byte to finish arriving on a whole second of the PC, and
// sends that second's date and time.
struct PlanDeEnvio {
    // The chain's start: the first step's wait counts from here. Never before
    // the moment planned from, and less than a second after it, or a few
    // more near a change of minute.
    qint64 inicio_us = 0;
    // The whole second on which the seconds value byte finishes arriving.
    qint64 borde_us = 0;
    // Its local date and time: what every step of the chain sends.
    QDateTime borde;
    // False when a wait of 0 stops the chain before its seconds step: it
    // starts at once and carries the current second.
    bool llega = true;
};

// Plans a chain whose seconds value is the last byte of step `paso_segundos`,
// on the earliest second the steps allow that keeps the chain's writes more
// than a second clear of a change of minute. Bytes written while earlier ones
// are still on the line wait for them.
PlanDeEnvio planificar_envio(qint64 ahora_us, std::span<const PasoDeCadena> pasos,
                             std::size_t paso_segundos, double us_byte);

// The seconds-only send, "S" and its value written at the start: it lands on
// a second from 05 to 54, since a seconds write cannot carry the minute and a
// clock a little off must never be pushed across one.
PlanDeEnvio planificar_segundos(qint64 ahora_us, double us_byte);

// How far off its planned moment a write of a set may run. Further off, the
// process stalled or the PC's clock was stepped: the second the set carries
// is no longer the one its seconds byte lands on, so the set is planned
// again from its first step.
inline constexpr qint64 kDesvioMaximoUs = 20'000;
inline bool fuera_de_plan(qint64 desvio_us) {
    return desvio_us > kDesvioMaximoUs || desvio_us < -kDesvioMaximoUs;
}
// A display tick this far off its moment tells of a stall or a step of the
// PC's clock.
inline constexpr qint64 kDesvioDeSaltoUs = 1'000'000;

// The seconds of a minute a seconds-only send may land on.
inline constexpr int kPrimerSegundoSolo = 5;
inline constexpr int kUltimoSegundoSolo = 54;

} // namespace quarvel
