#include "clock_link/enlace_reloj.h"

#include "clock_link/puerto_serie.h"

namespace quarvel {

EnlaceReloj::EnlaceReloj(PuertoSerie* puerto, std::function<void(const QString&)> avisar)
    : puerto_(puerto)
    , avisar_(std::move(avisar)) {}

bool EnlaceReloj::reabrir() {
    informado_ = false;
    en_curso_ = false;
    cambio_pendiente_ = false;
    if (!habilitado_) {
        fallo(QStringLiteral("No se envía nada: la configuración del puerto (qv.ini) no se "
                             "pudo leer al inicio"));
        return false;
    }
    if (puerto_->PortOpen())
        puerto_->setPortOpen(false);
    if (!puerto_->setPortOpen(true)) {
        fallo(puerto_->ultimoError());
        return false;
    }
    if (fallando_ && recuperado_)
        recuperado_();
    fallando_ = false;
    dicho_.clear();
    return true;
}

bool EnlaceReloj::iniciar_intercambio() {
    const bool abierto = reabrir();
    en_curso_ = abierto;
    return abierto;
}

void EnlaceReloj::abandonar() {
    if (en_curso_)
        cerrar();
}

void EnlaceReloj::escribir(const QByteArray& texto) {
    if (!habilitado_)
        return;
    if (!puerto_->Output(texto))
        fallo(puerto_->ultimoError());
}

void EnlaceReloj::cerrar() {
    en_curso_ = false;
    cambio_pendiente_ = false;
    puerto_->setPortOpen(false);
}

void EnlaceReloj::fallo(const QString& descripcion) {
    fallando_ = true;
    if (informado_)
        return;
    informado_ = true;
    if (fallido_)
        fallido_();
    // The same fault at each exchange of one episode is said once; the
    // port working again ends the episode.
    if (descripcion == dicho_)
        return;
    dicho_ = descripcion;
    if (avisar_)
        avisar_(descripcion);
}

void EnlaceReloj::escribir_paso(std::size_t paso, char valor, bool junto) {
    const QByteArray letra(1, kPasosDeCadena[paso].letra);
    if (junto) {
        escribir(letra + valor);
        return;
    }
    escribir(letra);
    escribir(QByteArray(1, valor));
}

std::optional<ModoPantalla> EnlaceReloj::cambiar_modo(ModoPantalla actual) {
    const ModoPantalla nuevo = otro_modo(actual);
    // A set under way, or waiting for its moment, keeps its port: closing
    // it would lose the set. Its own end sends the mode chosen now, and no
    // byte is put between its planned writes.
    if (en_curso_ && puerto_->PortOpen()) {
        cambio_pendiente_ = true;
        return nuevo;
    }
    // Nothing reached the clock: the mode shown stays.
    if (!reabrir())
        return std::nullopt;
    escribir(comando_de_modo(nuevo));
    cerrar();
    return nuevo;
}

void EnlaceReloj::restaurar_modo(ModoPantalla modo) {
    escribir(comando_de_modo(modo));
    cerrar();
}

} // namespace quarvel
