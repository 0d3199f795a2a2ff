#include "simulator/control/simulador_proceso.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

namespace quarvel {

SimuladorProceso::SimuladorProceso(QString binario, QString carpeta)
    : binario_(std::move(binario))
    , carpeta_(std::move(carpeta)) {}

SimuladorProceso::~SimuladorProceso() {
    detener();
}

bool SimuladorProceso::iniciar(const QStringList& opciones) {
    leidos_.clear();
    posicion_ = 0;
    QStringList args{QStringLiteral("--dir"), carpeta_, QStringLiteral("--log"), registro(),
                     QStringLiteral("--quiet")};
    args << opciones;
    proceso_.setProcessChannelMode(QProcess::SeparateChannels);
    proceso_.start(binario_, args);
    if (!proceso_.waitForStarted(5000))
        return false;
    QDeadlineTimer limite(5000);
    QByteArray salida;
    while (!limite.hasExpired()) {
        proceso_.waitForReadyRead(100);
        salida += proceso_.readAllStandardOutput();
        if (salida.contains("listo:"))
            return true;
        if (proceso_.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

void SimuladorProceso::detener() {
    if (proceso_.state() == QProcess::NotRunning)
        return;
    proceso_.terminate();
    if (!proceso_.waitForFinished(3000)) {
        proceso_.kill();
        proceso_.waitForFinished(1000);
    }
}

QString SimuladorProceso::registro() const {
    return QDir(carpeta_).absoluteFilePath(QStringLiteral("simulador.log"));
}

std::vector<ComandoRecibido> SimuladorProceso::comandos() const {
    // Only the lines added since the last look are read: waiting on a long
    // log must not keep the event loop, and the timers measured, busy.
    QFile f(registro());
    if (!f.open(QIODevice::ReadOnly) || f.size() < posicion_)
        return leidos_;
    f.seek(posicion_);
    while (!f.atEnd()) {
        const QByteArray linea = f.readLine();
        if (!linea.endsWith('\n'))
            break; // Still being written.
        posicion_ += linea.size();
        const QJsonObject o = QJsonDocument::fromJson(linea.trimmed()).object();
        if (o.isEmpty())
            continue;
        ComandoRecibido c;
        c.cmd = o.value(QStringLiteral("cmd")).toString();
        c.valor = o.value(QStringLiteral("value")).toInt(-1);
        c.t_us = static_cast<qint64>(o.value(QStringLiteral("t_us")).toDouble());
        c.aparato = QDateTime::fromString(o.value(QStringLiteral("device")).toString(),
                                          QStringLiteral("dd/MM/yyyy HH:mm:ss.zzz"));
        c.crudo = o;
        leidos_.push_back(c);
    }
    return leidos_;
}

bool SimuladorProceso::esperarComando(const QString& cmd, int veces, int limite_ms) const {
    const auto hay = [&] {
        int n = 0;
        for (const auto& c : comandos())
            n += c.cmd == cmd ? 1 : 0;
        return n >= veces;
    };
    // A real event loop, never asleep: the windows' timers being measured
    // fire on time while this waits.
    QEventLoop bucle;
    QTimer mirar;
    QDeadlineTimer limite(limite_ms);
    QObject::connect(&mirar, &QTimer::timeout, &bucle, [&] {
        if (hay() || limite.hasExpired())
            bucle.quit();
    });
    mirar.start(10);
    if (!hay())
        bucle.exec();
    return hay();
}

QString ruta_simulador() {
    return QStringLiteral(QUARVEL_SIMULADOR);
}

QByteArray contenido_qv_ini(int puerto, const QString& cfg, int retardo) {
    QByteArray r = "[COM_PORT]\r\n" + QByteArray::number(puerto) + "\r\n\r\n[COM_CFG]\r\n" +
                   cfg.toLatin1() + "\r\n";
    for (int i = 1; i <= 7; ++i)
        r += "\r\n[T" + QByteArray::number(i) + "]\r\n" + QByteArray::number(retardo) + "\r\n";
    return r;
}

} // namespace quarvel
