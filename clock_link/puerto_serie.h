#pragma once

#include "clock_link/config_linea.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace quarvel {

// The serial port control the windows own. Port number and line settings are
// validated here; subclasses do the opening, writing and reading.
class PuertoSerie : public QObject {
    Q_OBJECT
public:
    explicit PuertoSerie(QObject* parent = nullptr);

    // 1 to 255; anything else throws Fallo. Only while the port is closed.
    void setCommPort(int numero);
    int CommPort() const { return puerto_; }

    // "baud,parity,data,stop"; a bad field throws Fallo naming it.
    void setSettings(const QString& settings);
    const QString& Settings() const { return settings_; }
    // The same settings, read.
    const ConfigLinea& linea() const { return linea_; }

    bool PortOpen() const { return abierto(); }
    // Opening or closing; false when an open failed (see ultimoError()).
    bool setPortOpen(bool abrir);

    // Each character leaves as one byte, nothing added. False when the port
    // is closed or the write failed; the bytes are then dropped.
    bool Output(const QByteArray& texto);
    // Everything received since the last read; empty when nothing or closed.
    QByteArray Input();
    // A read returns the whole buffer, which is what the read-back's 0 asks.
    void setInputLen(int /*largo*/) {}

    // Waits up to `ms` for bytes to arrive (no wait when closed).
    virtual void esperarDatos(int ms) = 0;

    // Where COM<n> is now: as ruta_de_puerto, except that once the folder's
    // link was seen, it stays the port even while it is missing.
    QString ruta();

    // What went wrong last, for the user.
    const QString& ultimoError() const { return error_; }

signals:
    // Bytes arrived; the windows poll Input() instead.
    void OnComm();
    // The port failed while open (unplugged); it is closed now.
    void perdido(const QString& descripcion);
    // An open the system refused though the user may use the device (a
    // device policy fixed at start): only a new start can be let in.
    void vedado(const QString& descripcion);

protected:
    virtual bool abierto() const = 0;
    virtual bool abrir() = 0;
    virtual void cerrar() = 0;
    virtual bool escribir(const QByteArray& datos) = 0;
    virtual QByteArray leer() = 0;
    void setError(const QString& error) { error_ = error; }
    QString nombrePuerto() const;

private:
    int puerto_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    ConfigLinea linea_;
    QString error_;
    bool enlace_visto_ = false;
};

// Where COM<n> lives: the entry "COM<n>" of the working directory when there
// is one (a link to the real device), otherwise /dev/ttyS<n-1>.
QString ruta_de_puerto(int numero);

} // namespace quarvel
