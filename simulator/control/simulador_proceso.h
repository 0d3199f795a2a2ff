#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <vector>

namespace quarvel {

// One command the simulated clock received, from its JSON log.
struct ComandoRecibido {
    QString cmd;
    int valor = -1;
    qint64 t_us = 0;   // PC time of arrival, microseconds since 1970
    QDateTime aparato; // the device's date and time after applying it
    QJsonObject crudo;
};

// Runs simulador_reloj in a folder, linked there as COM1, and reads its log.
class SimuladorProceso {
public:
    SimuladorProceso(QString binario, QString carpeta);
    ~SimuladorProceso();

    // Starts with extra options; true once the link is ready.
    bool iniciar(const QStringList& opciones = {});
    void detener();

    QString registro() const;
    std::vector<ComandoRecibido> comandos() const;
    // Waits (running the event loop) until the log holds `cmd` `veces` times.
    bool esperarComando(const QString& cmd, int veces, int limite_ms) const;

private:
    QString binario_;
    QString carpeta_;
    QProcess proceso_;
    // What the log held at the last look, and where that look ended.
    mutable std::vector<ComandoRecibido> leidos_;
    mutable qint64 posicion_ = 0;
};

// The path of the simulator built beside the programs.
QString ruta_simulador();

// "qv.ini" with the given port, settings and the seven delays.
QByteArray contenido_qv_ini(int puerto, const QString& cfg, int retardo);

} // namespace quarvel
