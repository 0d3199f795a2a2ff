#pragma once

#include "clock_link/puerto_serie.h"

#include <QSerialPort>
#include <QStringList>

namespace quarvel {

// The real port, on QSerialPort.
class PuertoSerieQt final : public PuertoSerie {
    Q_OBJECT
public:
    explicit PuertoSerieQt(QObject* parent = nullptr);
    ~PuertoSerieQt() override;

    void esperarDatos(int ms) override;
    // Bytes received and not read yet; they never pile up past a few KiB.
    qint64 InBufferCount() const;

protected:
    bool abierto() const override { return puerto_.isOpen(); }
    bool abrir() override;
    void cerrar() override;
    bool escribir(const QByteArray& datos) override;
    QByteArray leer() override;

private:
    void alFallar(QSerialPort::SerialPortError error);
    QString describirFalloApertura(const QString& ruta) const;

    QSerialPort puerto_;
};

// The lock folders Qt may use.
QStringList carpetas_de_bloqueo();

// A lock of a device in one of those folders that belongs to another user:
// it cannot be taken or removed from here, so the user is told whose it is.
struct BloqueoAjeno {
    QString archivo; // empty: there is none
    QString usuario; // its owner's name, or number
    qint64 pid = 0;  // the process it names; 0 when unreadable
    QString proceso; // that process's name while it lives; empty otherwise
    bool vive = false;
    // Its owner may not open the device at all, so the lock guards no real
    // use of it.
    bool dueno_sin_acceso = false;
};
BloqueoAjeno bloqueo_ajeno(const QString& dispositivo, const QStringList& carpetas);
// What the user reads about it: whose it is and who may remove it.
QString texto_de_bloqueo(const BloqueoAjeno& b, const QString& puerto);

} // namespace quarvel
