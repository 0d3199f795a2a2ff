#include "clock_link/seguimiento.h"

#include "platform/archivos.h"
#include "platform/fallo.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimeZone>
#include <cmath>

namespace quarvel {

namespace {

constexpr double kSegundosDia = 86'400;

QByteArray numero(double x, int decimales) {
    // A point, never the locale's comma; no "-0.0".
    const QByteArray r = QByteArray::number(x, 'f', decimales);
    return r.startsWith('-') && r.count('0') + 2 == r.size() ? r.mid(1) : r;
}

// ISO 8601, local time with its offset, so a line stays right across a
// change of summer time.
QByteArray hora_iso(qint64 t_us) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(t_us / 1000);
    const int desfase = local.offsetFromUtc();
    const int m = std::abs(desfase) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1() +
           (desfase < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(m / 60, 2, 10, QLatin1Char('0'))
               .arg(m % 60, 2, 10, QLatin1Char('0'))
               .toLatin1();
}

std::optional<double> campo_numero(const QByteArray& c) {
    if (c.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double v = c.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// "yyyy-MM-ddTHH:mm:ss.zzz+hh:mm" read by hand: a month of lines parses in
// a few milliseconds, where a general parser takes a large part of a second.
std::optional<qint64> ms_de_hora_iso(const QByteArray& c) {
    if (c.size() != 29 || c[4] != '-' || c[7] != '-' || c[10] != 'T' || c[13] != ':' ||
        c[16] != ':' || c[19] != '.' || (c[23] != '+' && c[23] != '-') || c[26] != ':')
        return std::nullopt;
    const auto num = [&](int desde, int n, int& v) {
        v = 0;
        for (int i = desde; i < desde + n; ++i) {
            if (c[i] < '0' || c[i] > '9')
                return false;
            v = v * 10 + (c[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, ms = 0, oh = 0, om = 0;
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) ||
        !num(17, 2, se) || !num(20, 3, ms) || !num(24, 2, oh) || !num(27, 2, om))
        return std::nullopt;
    const QDate fecha(y, mo, d);
    if (!fecha.isValid() || h > 23 || mi > 59 || se > 60)
        return std::nullopt;
    const qint64 desfase = (oh * 60 + om) * 60'000LL * (c[23] == '-' ? -1 : 1);
    return (fecha.toJulianDay() - 2440588) * 86'400'000LL + ((h * 60 + mi) * 60 + se) * 1000LL +
           ms - desfase;
}

qint64 tiempo_del_reloj(const LecturaReloj& l) {
    // The clock's two-digit year, as the comparison takes it.
    const QDate fecha(2000 + l.anio, l.mes, l.dia);
    const QTime hora(l.hora, l.minuto, l.segundo);
    if (!fecha.isValid() || !hora.isValid())
        return -1;
    return QDateTime(fecha, hora).toSecsSinceEpoch();
}

} // namespace

const char* nombre_de_resultado(Resultado r) {
    switch (r) {
    case Resultado::Bien:
        return "bien";
    case Resultado::Mal:
        return "mal";
    case Resultado::SinRespuesta:
        return "sin_respuesta";
    case Resultado::ErrorPuerto:
        return "error_puerto";
    }
    return "";
}

const char* nombre_de_accion(Accion a) {
    switch (a) {
    case Accion::Ninguna:
        return "ninguna";
    case Accion::Actualizacion:
        return "actualizacion";
    case Accion::CorreccionFina:
        return "correccion_fina";
    }
    return "";
}

// "desvío +3,2 ms (±1,5 ms)", or "desvío desconocido".
QString texto_desvio(const EstimadorDesvio::Estimacion& e) {
    if (!e.valida)
        return QStringLiteral("desvío desconocido");
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    const double ms = e.desvio_s * 1e3;
    const int dec = std::abs(ms) < 100 ? 1 : 0;
    // What rounds to zero is written "+0,0", never "-0,0".
    const bool negativo = std::round(ms * (dec ? 10 : 1)) < 0;
    return QStringLiteral("desvío %1%2 ms (±%3 ms)")
        .arg(negativo ? QStringLiteral("-") : QStringLiteral("+"),
             es.toString(std::abs(ms), 'f', dec), es.toString(e.cota_s * 1e3, 'f', dec));
}

qint64 SeguimientoReloj::momento_de_lectura(qint64 desde_us) const {
    const qint64 fin = (desde_us / 1'000'000 + 1) * 1'000'000 - kMargenFinDeSegundoUs;
    // A tick that came that late leaves no safe moment to choose: the request
    // goes at once and tells what it can.
    return desde_us >= fin ? desde_us : estimador_.momento_de_lectura(desde_us, fin);
}

Registro SeguimientoReloj::lectura(qint64 t_us, const LecturaReloj& reloj, bool completa,
                                   bool error_puerto, bool equivocado, const EstadoPc& pc,
                                   qint64 escritura_us) {
    Registro r;
    r.t_us = t_us;
    if (pc.conocido)
        r.pc_sincronizado = pc.sincronizado;
    r.accion = equivocado ? Accion::Actualizacion : Accion::Ninguna;
    if (error_puerto) {
        r.resultado = Resultado::ErrorPuerto;
    } else if (!completa) {
        r.resultado = Resultado::SinRespuesta;
    } else {
        r.resultado = equivocado ? Resultado::Mal : Resultado::Bien;
        const qint64 reloj_s = tiempo_del_reloj(reloj);
        if (reloj_s >= 0) {
            r.veredicto = estimador_.lectura(t_us, reloj_s, escritura_us);
            r.estimacion = estimador_.en(t_us);
        }
    }
    // No reply, no port, a reply that makes no time: nothing is known of the
    // clock at this moment (it may have lost power, or never been there).
    return r;
}

bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s) {
    if (!e.valida || umbral_ms <= 0)
        return false;
    const double umbral = umbral_ms / 1000;
    // Surely beyond now, or beyond by the next read-back as the drift
    // carries the estimate. Not merely possibly beyond: a set restarts what
    // the reads have learnt, and a clock set whenever the bound is wide would
    // never be known better.
    const double ahora = std::abs(e.desvio_s) - e.cota_s;
    const double despues = std::abs(e.desvio_s + e.deriva * intervalo_s) -
                           (e.cota_s + e.cota_deriva * std::abs(intervalo_s));
    return ahora > umbral || despues > umbral;
}

QByteArray linea_historial(const Registro& r) {
    QByteArray l = hora_iso(r.t_us) + ';' + nombre_de_resultado(r.resultado) + ';';
    const auto& e = r.estimacion;
    if (e.valida)
        l += numero(e.desvio_s * 1e3, 1) + ';' + numero(e.cota_s * 1e3, 1) + ';' +
             numero(e.deriva * 1e6, 2) + ';' + numero(e.deriva * kSegundosDia, 3) + ';';
    else
        l += ";;;;";
    if (r.pc_sincronizado)
        l += *r.pc_sincronizado ? '1' : '0';
    l += ';' + QByteArray(nombre_de_accion(r.accion)) + ';';
    if (e.valida)
        l += numero(e.cota_deriva * 1e6, 2);
    return l + '\n';
}

QString anexar_historial(const QString& nombre, const QByteArray& linea, qint64 maximo) {
    const QFileInfo info(nombre);
    QString aviso;
    if (info.exists() && info.size() + linea.size() > maximo) {
        const QString aparte = nombre + QStringLiteral(".1");
        QFile::remove(aparte);
        // Unable to move it (something else holds the name), the file grows
        // on: a longer history beats a lost one.
        if (!QFile::rename(nombre, aparte))
            aviso = QStringLiteral("No se pudo mover \"%1\" a \"%2\": se sigue escribiendo en "
                                   "\"%1\", que pasa de su tamaño")
                        .arg(nombre, aparte);
    }
    const bool nuevo = !QFileInfo::exists(nombre) || QFileInfo(nombre).size() == 0;
    anexar_entero(nombre, nuevo ? QByteArray(kCabeceraHistorial) + '\n' + linea : linea);
    return aviso;
}

std::vector<FilaHistorial> filas_de_historial(const QByteArray& texto) {
    std::vector<FilaHistorial> filas;
    filas.reserve(static_cast<std::size_t>(texto.size() / 80));
    qsizetype pos = 0;
    while (pos < texto.size()) {
        qsizetype fin = texto.indexOf('\n', pos);
        if (fin < 0)
            fin = texto.size(); // a last line without its end is still read
        const QByteArray linea = texto.mid(pos, fin - pos).trimmed();
        pos = fin + 1;
        const QList<QByteArray> c = linea.split(';');
        // Eight fields in files written before the drift's bound was kept.
        if (c.size() != 8 && c.size() != 9)
            continue;
        const std::optional<qint64> t = ms_de_hora_iso(c[0]);
        if (!t)
            continue; // the header, or a damaged line
        FilaHistorial f;
        f.t_ms = *t;
        if (c[1] == "bien")
            f.resultado = Resultado::Bien;
        else if (c[1] == "mal")
            f.resultado = Resultado::Mal;
        else if (c[1] == "sin_respuesta")
            f.resultado = Resultado::SinRespuesta;
        else if (c[1] == "error_puerto")
            f.resultado = Resultado::ErrorPuerto;
        else
            continue;
        f.desvio_ms = campo_numero(c[2]);
        f.cota_ms = campo_numero(c[3]);
        f.deriva_ppm = campo_numero(c[4]);
        if (c.size() == 9)
            f.cota_deriva_ppm = campo_numero(c[8]);
        if (c[6] == "1" || c[6] == "0")
            f.pc_sincronizado = c[6] == "1";
        f.accion = c[7] == "actualizacion"     ? Accion::Actualizacion
                   : c[7] == "correccion_fina" ? Accion::CorreccionFina
                                               : Accion::Ninguna;
        filas.push_back(f);
    }
    return filas;
}

std::vector<FilaHistorial> leer_historial(const QString& nombre, bool* recortado) {
    std::vector<FilaHistorial> filas;
    if (recortado)
        *recortado = false;
    // Two files of a few MB at most, read whole; of a larger one (an older
    // version's, or one a user appended to) its newest part. Anything but a
    // regular file (a FIFO would block the window) is left out.
    for (const QString& n : {nombre + QStringLiteral(".1"), nombre}) {
        if (!QFileInfo::exists(n))
            continue;
        try {
            bool corto = false;
            const auto parte =
                filas_de_historial(leer_final_de_archivo(n, 4 * kHistorialMaximo, corto));
            if (corto) {
                // What came before the cut is older than anything read.
                filas.clear();
                if (recortado)
                    *recortado = true;
            }
            filas.insert(filas.end(), parte.begin(), parte.end());
        } catch (const Fallo&) {
            continue;
        }
    }
    return filas;
}

bool deriva_conocida(double deriva, double cota_deriva) {
    return cota_deriva <= std::max(std::abs(deriva) / 5, 1 / kSegundosDia);
}

QString deriva_en_palabras(double deriva, double cota_deriva) {
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    const double s_dia = deriva * kSegundosDia;
    if (!deriva_conocida(deriva, cota_deriva)) {
        const double c = cota_deriva * kSegundosDia;
        return QStringLiteral("deriva aún incierta (±%1 s al día)")
            .arg(es.toString(c, 'f', c < 10 ? 1 : 0));
    }
    const double a = std::abs(s_dia);
    const QString cifra = es.toString(a, 'f', a < 10 ? 1 : 0);
    return (s_dia > 0 ? QStringLiteral("adelanta %1 s al día")
                      : QStringLiteral("atrasa %1 s al día"))
        .arg(cifra);
}

QString frase_deriva(double deriva, double cota_deriva) {
    if (!deriva_conocida(deriva, cota_deriva))
        return QStringLiteral("La ") + deriva_en_palabras(deriva, cota_deriva)
                                           .replace(QStringLiteral("deriva aún"),
                                                    QStringLiteral("deriva del reloj es aún"));
    return QStringLiteral("El reloj ") + deriva_en_palabras(deriva, cota_deriva);
}

QString resumen_breve(const Registro& r, const QString& hora) {
    QString estado;
    switch (r.resultado) {
    case Resultado::Bien:
        estado = r.accion == Accion::CorreccionFina ? QStringLiteral("se afina")
                                                    : QStringLiteral("en hora");
        break;
    case Resultado::Mal:
        estado = QStringLiteral("equivocado, se corrige");
        break;
    case Resultado::SinRespuesta:
        estado = QStringLiteral("no contesta");
        break;
    case Resultado::ErrorPuerto:
        estado = QStringLiteral("sin puerto");
        break;
    }
    QString l1 = hora + QLatin1Char(' ') + estado;
    QString l2;
    const auto& e = r.estimacion;
    if (e.valida) {
        l1 += QStringLiteral(": ") + texto_desvio(e);
        l2 = deriva_en_palabras(e.deriva, e.cota_deriva);
    } else if (r.resultado == Resultado::Bien || r.resultado == Resultado::Mal) {
        l1 += QStringLiteral(": ") + texto_desvio(e);
    }
    if (r.pc_sincronizado && !*r.pc_sincronizado)
        l2 += (l2.isEmpty() ? QString() : QStringLiteral("; ")) +
              QStringLiteral("PC sin sincronizar");
    return l2.isEmpty() ? l1 : l1 + QLatin1Char('\n') + l2;
}

QString resumen_de_registro(const Registro& r) {
    const auto& e = r.estimacion;
    QString t;
    if (e.valida)
        t = texto_desvio(e) + QStringLiteral(", ") + deriva_en_palabras(e.deriva, e.cota_deriva);
    else if (r.resultado == Resultado::Bien || r.resultado == Resultado::Mal)
        t = texto_desvio(e);
    if (r.pc_sincronizado && !*r.pc_sincronizado)
        t += (t.isEmpty() ? QString() : QStringLiteral("; ")) +
             QStringLiteral("el PC no está sincronizado");
    return t;
}

} // namespace quarvel
