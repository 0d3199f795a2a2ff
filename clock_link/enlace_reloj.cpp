#include "clock_link/enlace_reloj.h"

#include "clock_link/puerto_serie.h"

namespace quarvel {

EnlaceReloj::EnlaceReloj(PuertoSerie* puerto, std::function<void(const QString&)> avisar)
    : puerto_(puerto)
    , avisar_(std::move(avisar)) {}

bool EnlaceReloj::reabrir() {
    informado_ = false;
    if (puerto_->PortOpen())
        puerto_->setPortOpen(false);
    if (!puerto_->setPortOpen(true)) {
        fallo(puerto_->ultimoError());
        return false;
    }
    if (fallando_ && recuperado_)
        recuperado_();
    fallando_ = false;
    return true;
}

void EnlaceReloj::escribir(const QByteArray& texto) {
    if (!puerto_->Output(texto))
        fallo(puerto_->ultimoError());
}

void EnlaceReloj::cerrar() {
    puerto_->setPortOpen(false);
}

void EnlaceReloj::fallo(const QString& descripcion) {
    fallando_ = true;
    if (informado_)
        return;
    informado_ = true;
    if (avisar_)
        avisar_(descripcion);
}

QString EnlaceReloj::cambiar_modo(const QString& caption) {
    // Nothing reached the clock: the caption keeps showing what it shows.
    if (!reabrir())
        return caption;
    if (caption == QStringLiteral("Fecha y Hora")) {
        escribir(QByteArray("CH"));
        cerrar();
        return QStringLiteral("Hora");
    }
    if (caption == QStringLiteral("Hora")) {
        escribir(QByteArray("CF"));
        cerrar();
        return QStringLiteral("Fecha y Hora");
    }
    return caption;
}

void EnlaceReloj::restaurar_modo(bool solo_hora) {
    escribir(solo_hora ? QByteArray("CH") : QByteArray("CF"));
    cerrar();
}

} // namespace quarvel
