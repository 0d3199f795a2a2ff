#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace quarvel {

class PuertoSerie;

// A window's exchanges with the clock. Port failures never stop a handler:
// they are handed to `avisar` once per exchange (the reopen that starts it),
// and the writes that follow on a closed port are dropped.
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
    bool en_curso() const { return en_curso_; }
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

    // The display-mode switch: sends "C" "H" on "Fecha y Hora" or "C" "F" on
    // "Hora", closes the port and returns the new caption (unchanged for any
    // other caption, or when the port could not be opened). Inside an
    // exchange nothing is written: the exchange's end sends the new mode.
    QString cambiar_modo(const QString& caption);

    // The restore that ends an exchange: "C" "H" or "C" "F", then close.
    void restaurar_modo(bool solo_hora);

private:
    PuertoSerie* puerto_;
    std::function<void(const QString&)> avisar_;
    std::function<void()> recuperado_;
    bool informado_ = false;
    bool fallando_ = false;
    bool en_curso_ = false;
    bool habilitado_ = true;
};

} // namespace quarvel
