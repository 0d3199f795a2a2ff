#include "platform/temporizador.h"

#include "platform/fallo.h"

#include <QDateTime>

namespace quarvel {

namespace {
// Fire a little after the boundary so the new second has surely begun.
constexpr qint64 kMargenMs = 3;
} // namespace

Temporizador::Temporizador(QString nombre, int intervalo, bool activo, QObject* parent)
    : QObject(parent)
    , nombre_(std::move(nombre))
    , intervalo_(intervalo) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &Temporizador::disparo);
    setEnabled(activo);
}

void Temporizador::setInterval(long ms) {
    if (ms < 0 || ms > kIntervaloMaximo)
        throw Fallo(QStringLiteral("Intervalo de %1 no valido: %2 (debe estar entre 0 y %3)")
                        .arg(nombre_)
                        .arg(ms)
                        .arg(kIntervaloMaximo));
    intervalo_ = static_cast<int>(ms);
    // A new interval restarts the count, as a window timer does.
    if (activo_)
        armar(true);
}

void Temporizador::setEnabled(bool activo) {
    if (activo == activo_)
        return;
    activo_ = activo;
    if (activo_)
        armar(true);
    else
        timer_.stop();
}

void Temporizador::alinearAlReloj(int fase_ms) {
    alineado_ = true;
    fase_ms_ = fase_ms;
    if (activo_)
        armar(true);
}

void Temporizador::armar(bool primero) {
    timer_.stop();
    if (!activo_ || intervalo_ <= 0)
        return;
    if (!alineado_) {
        timer_.start(intervalo_);
        return;
    }
    const qint64 ahora = QDateTime::currentMSecsSinceEpoch();
    const qint64 objetivo = proximo_disparo(ahora, intervalo_, fase_ms_, primero);
    limite_siguiente_ = objetivo;
    timer_.start(static_cast<int>(objetivo - ahora + kMargenMs));
}

qint64 proximo_disparo(qint64 ahora, int intervalo, int fase_ms, bool primero) {
    if (primero) {
        // First tick at phase `fase_ms` within a second, at least one
        // interval away: later ticks keep their place within the second.
        const qint64 minimo = ahora + intervalo;
        qint64 objetivo = (minimo / 1000) * 1000 + fase_ms;
        while (objetivo < minimo)
            objetivo += 1000;
        return objetivo;
    }
    // The next boundary more than half an interval away, so a tick that came
    // a little late does not bring a second one right after it.
    const qint64 minimo = ahora + intervalo / 2;
    const qint64 base = ((minimo - fase_ms) / intervalo) * intervalo + fase_ms;
    return base < minimo ? base + intervalo : base;
}

void Temporizador::disparo() {
    if (!activo_)
        return;
    // Re-arm before the handler runs: a handler that lets events run (the
    // read-back) still sees later ticks.
    limite_actual_ = alineado_ ? limite_siguiente_ : -1;
    armar(false);
    emit Timer();
}

} // namespace quarvel
