#include "clock_link/puerto_serie.h"

#include "platform/fallo.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace quarvel {

PuertoSerie::PuertoSerie(QObject* parent)
    : QObject(parent) {}

void PuertoSerie::setCommPort(int numero) {
    if (numero < 1 || numero > 255)
        throw Fallo(QStringLiteral("Número de puerto no válido: %1 (debe estar entre 1 y 255)")
                        .arg(numero));
    puerto_ = numero;
    enlace_visto_ = false;
}

QString PuertoSerie::ruta() {
    const QString enlace = QDir::current().absoluteFilePath(QStringLiteral("COM%1").arg(puerto_));
    const QFileInfo info(enlace);
    if (info.exists() || info.isSymLink())
        enlace_visto_ = true;
    // Once the folder named the device, its link gone is the port gone:
    // never the system's own port of that number in its place.
    return enlace_visto_ ? enlace : ruta_de_puerto(puerto_);
}

void PuertoSerie::setSettings(const QString& settings) {
    linea_ = validar_settings(settings);
    settings_ = settings;
}

bool PuertoSerie::setPortOpen(bool abrir_puerto) {
    if (!abrir_puerto) {
        if (abierto())
            cerrar();
        return true;
    }
    if (abierto())
        return true;
    error_.clear();
    return abrir();
}

bool PuertoSerie::Output(const QByteArray& texto) {
    if (!abierto()) {
        error_ = QStringLiteral("El puerto %1 está cerrado").arg(nombrePuerto());
        return false;
    }
    return escribir(texto);
}

QByteArray PuertoSerie::Input() {
    return abierto() ? leer() : QByteArray();
}

QString PuertoSerie::nombrePuerto() const {
    return QStringLiteral("COM%1").arg(puerto_);
}

QString ruta_de_puerto(int numero) {
    QString enlace = QDir::current().absoluteFilePath(QStringLiteral("COM%1").arg(numero));
    const QFileInfo info(enlace);
    if (info.exists() || info.isSymLink())
        return enlace;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(numero);
#else
    return QStringLiteral("/dev/ttyS%1").arg(numero - 1);
#endif
}

} // namespace quarvel
