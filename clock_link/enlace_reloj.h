#pragma once

#include "clock_link/protocolo.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

namespace quarvel {

class PuertoSerie;

// A window's exchanges with the clock. Port failures never stop a handler:
// they are handed to `avisar` once per exchange (the reopen that starts it),
// the same one once until the port works again, and the writes that follow
// on a closed port are dropped.
class EnlaceReloj {
public:
    EnlaceReloj(PuertoSerie* puerto, std::function<void(const QString&)> avisar);

    // Close if open, then open: the start of an exchange. False on failure.
    bool reabrir();
    // The start of an exchange that ends with `restaurar_modo` (a set, a
    // seconds send): a reopen, after which the port stays open for it, and a
    // switch of the display mode made meanwhile goes out on it.
    bool iniciar_intercambio();
    // An exchange given up before its end: the port it opened is closed.
    void abandonar();
    // An exchange that will never reach its end (a delay of 0 stops it):
    // the port stays open as it is, and a switch of mode goes out at once.
    void soltar() { en_curso_ = false; }
    bool en_curso() const { return en_curso_; }
    // A switch of mode made during the exchange waits for its end.
    bool cambio_pendiente() const { return en_curso_ && cambio_pendiente_; }
    // Whether the last exchange failed on the port.
    bool fallando() const { return fallando_; }
    // Until `true`, no exchange opens the port: its settings were never read,
    // and the port would be the default one at default settings.
    void habilitar(bool habilitado) { habilitado_ = habilitado; }
    void escribir(const QByteArray& texto);
    void cerrar();
    // A failure outside a handler (the device went away).
    void fallo(const QString& descripcion);

    // Called when an exchange opens the port again after a failure.
    void alRecuperar(std::function<void()> recuperado) { recuperado_ = std::move(recuperado); }
    // Called at each failure of the port told (once an exchange), before
    // the user is told.
    void alFallar(std::function<void()> fallido) { fallido_ = std::move(fallido); }

    // One step of a set: its letter, then its value byte; `junto` puts both
    // in one write.
    void escribir_paso(std::size_t paso, char valor, bool junto);

    // The display-mode switch, from the mode shown: sends "C" "H" or "C" "F"
    // for the other one, closes the port and gives the new mode; nothing
    // when the port could not be opened. Inside an exchange nothing is
    // written: the exchange's end sends the new mode.
    std::optional<ModoPantalla> cambiar_modo(ModoPantalla actual);

    // The restore that ends an exchange: the mode's command, then close.
    void restaurar_modo(ModoPantalla modo);

private:
    PuertoSerie* puerto_;
    std::function<void(const QString&)> avisar_;
    std::function<void()> recuperado_;
    std::function<void()> fallido_;
    // The fault said last, until the port works again.
    QString dicho_;
    bool informado_ = false;
    bool fallando_ = false;
    bool en_curso_ = false;
    bool cambio_pendiente_ = false;
    bool habilitado_ = true;
};

} // namespace quarvel
