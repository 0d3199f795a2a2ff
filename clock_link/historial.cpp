#include "clock_link/historial.h"

#include "platform/archivos.h"
#include "platform/fallo.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace quarvel {

namespace {

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

QByteArray linea_historial(const Registro& r) {
    QByteArray l = hora_iso(r.t_us) + ';' + nombre_de_resultado(r.resultado) + ';';
    const auto& e = r.estimacion;
    if (e.valida)
        l += numero(e.desvio_s * 1e3, 1) + ';' + numero(e.cota_s * 1e3, 1) + ';' +
             numero(e.deriva * 1e6, 2) + ';' + numero(e.deriva * 86'400, 3) + ';';
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
    // A device or a pipe at the name would swallow every line unseen.
    if ((info.exists() || info.isSymLink()) && !info.isFile())
        throw Fallo(QStringLiteral("\"%1\" no es un archivo normal (%2): no se anota en él la "
                                   "lectura; quítelo para que se cree de nuevo")
                        .arg(nombre, info.isSymLink()
                                         ? QStringLiteral("un enlace a ") + info.symLinkTarget()
                                         : QStringLiteral("una carpeta o un "
                                                          "dispositivo")));
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
    const qint64 tamano = QFileInfo::exists(nombre) ? QFileInfo(nombre).size() : 0;
    if (tamano == 0) {
        anexar_entero(nombre, QByteArray(kCabeceraHistorial) + '\n' + linea);
        return aviso;
    }
    // A last line left without its end (cut by a crash, an editor) would
    // take this one in: this one starts a line of its own.
    QFile f(nombre);
    char ultimo = '\n';
    if (f.open(QIODevice::ReadOnly) && f.seek(tamano - 1))
        f.getChar(&ultimo);
    f.close();
    anexar_entero(nombre, ultimo == '\n' ? linea : '\n' + linea);
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

} // namespace quarvel
