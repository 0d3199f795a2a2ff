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

// The lock folders Qt may use, and a lock of `dispositivo` in one of them that
// belongs to another user (empty when there is none).
QStringList carpetas_de_bloqueo();
QString bloqueo_ajeno(const QString& dispositivo, const QStringList& carpetas);

} // namespace quarvel
