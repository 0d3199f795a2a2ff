#include "tests/apoyo.h"

#include <QSysInfo>

#include "clock_link/codificacion.h"
#include "platform/fallo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <algorithm>

RelojVirtual::Id RelojVirtual::programar(qint64 cuando_us, Precision,
                                         std::function<void()> accion) {
    const Id id = ++siguiente_;
    citas_.emplace(id, Cita{cuando_us, std::move(accion)});
    return id;
}

void RelojVirtual::fijar(int d, int m, int y, int hh, int mm, int ss, int ms) {
    fijar(QDateTime(QDate(y, m, d), QTime(hh, mm, ss, ms)));
}

void RelojVirtual::avanzar_us(qint64 us) {
    const qint64 hasta = t_us + us;
    for (;;) {
        // The earliest due; ids break ties in the order the calls were made.
        auto proxima = citas_.end();
        for (auto it = citas_.begin(); it != citas_.end(); ++it)
            if (it->second.cuando_us <= hasta &&
                (proxima == citas_.end() || it->second.cuando_us < proxima->second.cuando_us))
                proxima = it;
        if (proxima == citas_.end())
            break;
        t_us = std::max(t_us, proxima->second.cuando_us);
        const std::function<void()> accion = std::move(proxima->second.accion);
        citas_.erase(proxima);
        accion();
    }
    t_us = std::max(t_us, hasta);
}

void RelojVirtual::saltar_us(qint64 us) {
    t_us += us;
    for (auto& [id, cita] : citas_)
        cita.cuando_us += us;
}

QByteArray PuertoFalso::escritos() const {
    QByteArray r;
    for (const auto& e : eventos)
        if (e.tipo == Tipo::Escribir)
            r += e.bytes;
    return r;
}

std::vector<QByteArray> PuertoFalso::escrituras() const {
    std::vector<QByteArray> r;
    for (const auto& e : eventos)
        if (e.tipo == Tipo::Escribir)
            r.push_back(e.bytes);
    return r;
}

int PuertoFalso::cuenta(Tipo t) const {
    return static_cast<int>(std::count_if(eventos.begin(), eventos.end(),
                                          [t](const Evento& e) { return e.tipo == t; }));
}

bool PuertoFalso::abrir() {
    if (!fallo_apertura.isEmpty()) {
        setError(fallo_apertura);
        return false;
    }
    abierto_ = true;
    eventos.push_back({Tipo::Abrir, {}, ahora()});
    return true;
}

void PuertoFalso::cerrar() {
    abierto_ = false;
    eventos.push_back({Tipo::Cerrar, {}, ahora()});
}

bool PuertoFalso::escribir(const QByteArray& datos) {
    eventos.push_back({Tipo::Escribir, datos, ahora()});
    if (al_escribir)
        al_escribir(datos);
    return true;
}

QByteArray PuertoFalso::leer() {
    QByteArray r = entrada;
    entrada.clear();
    return r;
}

CarpetaTemporal::CarpetaTemporal()
    : anterior_(QDir::currentPath()) {
    QDir::setCurrent(dir_.path());
}

CarpetaTemporal::~CarpetaTemporal() {
    QDir::setCurrent(anterior_);
}

void CarpetaTemporal::escribir(const QString& nombre, const QByteArray& contenido) {
    QFile f(nombre);
    if (!f.open(QIODevice::WriteOnly) || f.write(contenido) != contenido.size())
        qFatal("cannot write test file");
}

QByteArray CarpetaTemporal::leer(const QString& nombre) {
    QFile f(nombre);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

QByteArray qv_ini(const QString& port, const QString& cfg, const QStringList& retardos) {
    QByteArray r =
        "[COM_PORT]\r\n" + port.toLatin1() + "\r\n\r\n[COM_CFG]\r\n" + cfg.toLatin1() + "\r\n";
    for (int i = 0; i < 7; ++i) {
        const QString v = i < retardos.size() ? retardos[i] : QStringLiteral("100");
        r += "\r\n[T" + QByteArray::number(i + 1) + "]\r\n" + v.toLatin1() + "\r\n";
    }
    return r;
}

QByteArray respuesta(int d, int m, int y, int hh, int mm, int ss) {
    QByteArray r("CXd");
    for (const auto& [valor, etiqueta] :
         {std::pair{d, 'm'}, {m, 'y'}, {y, 'h'}, {hh, 'n'}, {mm, 's'}, {ss, 'S'}}) {
        r += static_cast<char>(quarvel::bcd(valor));
        r += etiqueta;
    }
    return r;
}

void esperar_eventos(int ms) {
    QDeadlineTimer fin(ms);
    while (!fin.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

QString descripcion_de(const std::function<void()>& f) {
    try {
        f();
    } catch (const quarvel::Fallo& e) {
        return e.descripcion();
    }
    return QStringLiteral("<no failure>");
}

bool en_windows() {
    return QSysInfo::kernelType() == QLatin1String("winnt");
}
