#include "platform/temporizador.h"

#include "platform/fallo.h"

namespace quarvel {

Temporizador::Temporizador(QString nombre, int intervalo, bool activo, FuenteHora& hora,
                           QObject* parent)
    : QObject(parent)
    , nombre_(std::move(nombre))
    , hora_(hora)
    , intervalo_(intervalo) {
    setEnabled(activo);
}

Temporizador::~Temporizador() {
    desarmar();
}

void Temporizador::setInterval(long ms) {
    if (ms < 0 || ms > kIntervaloMaximo)
        throw Fallo(QStringLiteral("Intervalo de %1 no válido: %2 (debe estar entre 0 y %3)")
                        .arg(nombre_)
                        .arg(ms)
                        .arg(kIntervaloMaximo));
    intervalo_ = static_cast<int>(ms);
    if (activo_)
        armar(primer_tick(hora_.ahora_us()));
}

void Temporizador::setEnabled(bool activo) {
    if (activo == activo_)
        return;
    activo_ = activo;
    if (activo_)
        armar(primer_tick(hora_.ahora_us()));
    else
        desarmar();
}

void Temporizador::activarDesde(qint64 base_us) {
    activo_ = true;
    armar(primer_tick(base_us));
}

void Temporizador::alinearAlReloj(PrimerTick primero) {
    alineado_ = true;
    primero_ = primero;
    if (activo_)
        armar(primer_tick(hora_.ahora_us()));
}

qint64 Temporizador::primer_tick(qint64 base_us) const {
    const qint64 intervalo_us = qint64{intervalo_} * 1000;
    if (!alineado_ || intervalo_us <= 0)
        return base_us + intervalo_us;
    if (primero_ == PrimerTick::EnElProximoLimite)
        return multiplo_tras(base_us, intervalo_us, false);
    return multiplo_tras(base_us + intervalo_us, intervalo_us, true);
}

void Temporizador::armar(qint64 cuando_us) {
    desarmar();
    if (!activo_ || intervalo_ <= 0)
        return;
    proximo_us_ = cuando_us;
    armado_ = true;
    cita_ = hora_.programar(cuando_us, precision_, [this] { disparo(); });
}

void Temporizador::desarmar() {
    if (armado_)
        hora_.cancelar(cita_);
    armado_ = false;
}

void Temporizador::disparo() {
    armado_ = false;
    vencimiento_us_ = proximo_us_;
    const qint64 ahora = hora_.ahora_us();
    desvio_us_ = ahora - vencimiento_us_;
    // Armed again before the handler runs: a handler that lets events run
    // (the read-back) still sees later ticks.
    armar(siguiente_tick(vencimiento_us_, ahora, qint64{intervalo_} * 1000, alineado_));
    emit Timer();
}

qint64 siguiente_tick(qint64 vencido_us, qint64 ahora_us, qint64 intervalo_us, bool alineado) {
    if (intervalo_us <= 0)
        return vencido_us;
    qint64 siguiente = vencido_us + intervalo_us;
    if (siguiente <= ahora_us)
        siguiente += ((ahora_us - siguiente) / intervalo_us + 1) * intervalo_us;
    else if (siguiente - ahora_us > intervalo_us)
        siguiente =
            alineado ? multiplo_tras(ahora_us, intervalo_us, false) : ahora_us + intervalo_us;
    return siguiente;
}

} // namespace quarvel
