#pragma once

#include "clock_link/puerto_serie.h"

#include <QSerialPort>

namespace quarvel {

// The real port, on QSerialPort.
class PuertoSerieQt final : public PuertoSerie {
    Q_OBJECT
public:
    explicit PuertoSerieQt(QObject* parent = nullptr);
    ~PuertoSerieQt() override;

    void esperarDatos(int ms) override;

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

} // namespace quarvel
