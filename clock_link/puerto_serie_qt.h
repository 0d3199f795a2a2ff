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
    bool abierto() const override { return en_uso_ && puerto_.isOpen(); }
    bool abrir() override;
    void cerrar() override;
    bool escribir(const QByteArray& datos) override;
    QByteArray leer() override;

private:
    void alFallar(QSerialPort::SerialPortError error);
    QString describirFalloApertura(const QString& ruta) const;
    // Closes the device for good, its lock with it.
    void soltar();

    QSerialPort puerto_;
    // A close keeps the device open, and locked, until the program ends or
    // the port changes: no other program takes the clock between exchanges.
    bool en_uso_ = false;
    QString ruta_retenida_;
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

// The lines a program of ours adds to the lock it holds, after Qt's own
// (process, program, machine, ...): its name (Qt's may be empty in a
// sandbox) and its working folder.
inline constexpr char kProgramaEnBloqueo[] = "programa=";
inline constexpr char kCarpetaEnBloqueo[] = "carpeta=";
// A live Quarvel program that holds the device, as its lock tells (of any
// user).
struct ProgramaEnElPuerto {
    QString programa; // empty: none
    qint64 pid = 0;
    QString carpeta;
    QString usuario; // its owner, when another user
};
ProgramaEnElPuerto programa_en_el_puerto(const QString& dispositivo, const QStringList& carpetas);
// The refusal: the other program, its process and its folder.
QString texto_de_programa_en_el_puerto(const ProgramaEnElPuerto& p, const QString& puerto);

} // namespace quarvel
