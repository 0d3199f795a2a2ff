#include "settings/archivos_config.h"

#include "platform/archivos.h"
#include "platform/fallo.h"
#include "settings/lector_lineas.h"

#include <QFileInfo>
#include <QStringList>
#include <array>

namespace quarvel {

namespace {

// Settings files are a few hundred bytes; anything much larger is not one.
constexpr qint64 kTamanoMaximo = 64 * 1024;

QByteArray leer_archivo(const QString& nombre) {
    return leer_archivo_pequeno(nombre, kTamanoMaximo);
}

// Written whole or, where the folder allows no temporary file, in place.
void escribir_lineas(const QString& nombre, const QStringList& lineas) {
    QByteArray contenido;
    for (const QString& linea : lineas)
        contenido += linea.toLatin1() + "\r\n";
    reemplazar_archivo(nombre, contenido);
}

QString texto(const QByteArray& linea) {
    return QString::fromLatin1(linea);
}

} // namespace

QString leer_intervalo() {
    return intervalo_de_bytes(leer_archivo(kArchivoIntervalo));
}

QString intervalo_de_bytes(const QByteArray& datos) {
    LectorLineas lector(datos);
    if (lector.fin())
        throw Fallo(QStringLiteral("El archivo \"%1\" está vacío: se esperaba la línea del "
                                   "intervalo")
                        .arg(kArchivoIntervalo));
    return texto(lector.leerLinea());
}

std::optional<int> umbral_fino_de_bytes(const QByteArray& datos) {
    LectorLineas lector(datos);
    const QString linea = lector.fin() ? QString() : texto(lector.leerLinea()).trimmed();
    if (linea.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int n = linea.toInt(&ok);
    // Up to a minute: beyond it the designed comparison already sets the clock.
    if (!ok || n < 0 || n > 60'000)
        throw Fallo(QStringLiteral("\"%1\" no contiene un número de milisegundos entre 0 y "
                                   "60000 (\"%2\"): la corrección fina queda desactivada")
                        .arg(kArchivoFino, linea.left(20)));
    return n == 0 ? std::nullopt : std::optional<int>(n);
}

std::optional<int> leer_umbral_fino() {
    if (!QFileInfo::exists(kArchivoFino))
        return std::nullopt;
    return umbral_fino_de_bytes(leer_archivo(kArchivoFino));
}

void guardar_umbral_fino(std::optional<int> umbral_ms) {
    escribir_lineas(kArchivoFino, QStringList{QString::number(umbral_ms.value_or(0))});
}

void guardar_intervalo(const QString& texto) {
    escribir_lineas(kArchivoIntervalo, QStringList{texto});
}

configuracion_ini leer_configuracion() {
    return configuracion_de_bytes(leer_archivo(kArchivoConfiguracion));
}

configuracion_ini configuracion_de_bytes(const QByteArray& datos) {
    LectorLineas lector(datos);
    configuracion_ini c;
    const std::array<std::pair<const char*, std::optional<QString>*>, 9> secciones{{
        {"[COM_PORT]", &c.com_port},
        {"[COM_CFG]", &c.com_cfg},
        {"[T1]", &c.t1},
        {"[T2]", &c.t2},
        {"[T3]", &c.t3},
        {"[T4]", &c.t4},
        {"[T5]", &c.t5},
        {"[T6]", &c.t6},
        {"[T7]", &c.t7},
    }};
    while (!lector.fin()) {
        const QByteArray linea = lector.leerLinea();
        for (const auto& [marcador, campo] : secciones) {
            if (linea == marcador) {
                if (lector.fin())
                    throw Fallo(QStringLiteral("El archivo \"%1\" termina después de \"%2\": "
                                               "se esperaba una línea de valor")
                                    .arg(kArchivoConfiguracion, QString::fromLatin1(marcador)));
                *campo = texto(lector.leerLinea());
                break;
            }
        }
    }
    return c;
}

void guardar_configuracion(const QString& port, const QString& baud, const QString& parity,
                           const QString& data, const QString& stop) {
    QStringList lineas{QStringLiteral("[COM_PORT]"), port, QString(), QStringLiteral("[COM_CFG]"),
                       unir_config_com(baud, parity, data, stop)};
    for (int i = 1; i <= 7; ++i) {
        lineas << QString() << QStringLiteral("[T%1]").arg(i) << kRetardoGuardado;
    }
    escribir_lineas(kArchivoConfiguracion, lineas);
}

int separar_config_com_parcial(const QString& t, config_com& partes) {
    partes = config_com{};
    const qsizetype c1 = t.indexOf(u',');
    if (c1 < 0) {
        partes.baud = t;
        return 0;
    }
    partes.baud = t.left(c1);
    const qsizetype c2 = t.indexOf(u',', c1 + 1);
    if (c2 < 0)
        return 1;
    // c2 > c1 and c3 > c2, so the characters before them exist.
    partes.parity = t.mid(c2 - 1, 1);
    const qsizetype c3 = t.indexOf(u',', c2 + 1);
    if (c3 < 0)
        return 2;
    partes.data = t.mid(c3 - 1, 1);
    partes.stop = t.right(1);
    return 4;
}

config_com separar_config_com(const QString& t) {
    config_com partes;
    if (separar_config_com_parcial(t, partes) < 4)
        throw Fallo(QStringLiteral("La configuración del puerto \"%1\" no tiene la forma "
                                   "velocidad,paridad,datos,parada")
                        .arg(recortado(t)));
    return partes;
}

QString unir_config_com(const QString& baud, const QString& parity, const QString& data,
                        const QString& stop) {
    return baud + u',' + parity + u',' + data + u',' + stop;
}

} // namespace quarvel
