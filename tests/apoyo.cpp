#include "tests/apoyo.h"

#include "platform/fallo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

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
    int n = 0;
    for (const auto& e : eventos)
        n += e.tipo == t ? 1 : 0;
    return n;
}

bool PuertoFalso::abrir() {
    if (!fallo_apertura.isEmpty()) {
        setError(fallo_apertura);
        return false;
    }
    abierto_ = true;
    eventos.push_back({Tipo::Abrir, {}, reloj_.elapsed()});
    return true;
}

void PuertoFalso::cerrar() {
    abierto_ = false;
    eventos.push_back({Tipo::Cerrar, {}, reloj_.elapsed()});
}

bool PuertoFalso::escribir(const QByteArray& datos) {
    eventos.push_back({Tipo::Escribir, datos, reloj_.elapsed()});
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
