#include "clock_link/aprendido.h"

#include <QList>
#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

constexpr double kHolgura = 0.1e-6;
constexpr double kPorDia = 2e-6;

bool par(const QByteArray& v, double escala, std::pair<double, double>& r) {
    const QList<QByteArray> p = v.split(' ');
    if (p.size() != 2)
        return false;
    bool a = false;
    bool b = false;
    r = {p[0].toDouble(&a) * escala, p[1].toDouble(&b) * escala};
    return a && b && std::isfinite(r.first) && std::isfinite(r.second) && r.first <= r.second;
}

} // namespace

QByteArray texto_aprendido(const Aprendido& a) {
    QByteArray t;
    t += "clave=" + a.clave.toUtf8() + '\n';
    t += "aprendido=" + QByteArray::number(a.cuando_s) + '\n';
    t += "deriva_ppm=" + QByteArray::number(a.deriva_lo * 1e6, 'f', 4) + ' ' +
         QByteArray::number(a.deriva_hi * 1e6, 'f', 4) + '\n';
    if (a.latencia_s)
        t += "latencia_ms=" + QByteArray::number(a.latencia_s->first * 1e3, 'f', 3) + ' ' +
             QByteArray::number(a.latencia_s->second * 1e3, 'f', 3) + '\n';
    return t;
}

std::optional<Aprendido> leer_aprendido(const QByteArray& texto) {
    Aprendido a;
    bool clave = false;
    bool cuando = false;
    bool deriva = false;
    for (const QByteArray& l : texto.split('\n')) {
        if (l.isEmpty())
            continue;
        const qsizetype igual = l.indexOf('=');
        if (igual < 0)
            return std::nullopt;
        const QByteArray k = l.left(igual);
        const QByteArray v = l.mid(igual + 1);
        if (k == "clave") {
            a.clave = QString::fromUtf8(v);
            clave = true;
        } else if (k == "aprendido") {
            a.cuando_s = v.toLongLong(&cuando);
        } else if (k == "deriva_ppm") {
            std::pair<double, double> d;
            deriva = par(v, 1e-6, d);
            a.deriva_lo = d.first;
            a.deriva_hi = d.second;
        } else if (k == "latencia_ms") {
            std::pair<double, double> l2;
            if (!par(v, 1e-3, l2) || l2.first < 0)
                return std::nullopt;
            a.latencia_s = l2;
        }
    }
    if (!clave || !cuando || !deriva)
        return std::nullopt;
    return a;
}

std::pair<double, double> deriva_envejecida(const Aprendido& a, qint64 ahora_s) {
    // A clock set back (a date before the record) ages it as much as ahead.
    const double dias = std::abs(static_cast<double>(ahora_s - a.cuando_s)) / 86'400;
    const double h = kHolgura + kPorDia * dias;
    return {a.deriva_lo - h, a.deriva_hi + h};
}

} // namespace quarvel
