#include "clock_link/metricas.h"

#include "clock_link/historial.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace quarvel {

namespace {

// A label's value as the format wants it: backslash, quote and line end
// escaped.
QByteArray escapar(const QString& v) {
    QByteArray r;
    for (const char c : v.toUtf8()) {
        if (c == '\\')
            r += "\\\\";
        else if (c == '"')
            r += "\\\"";
        else if (c == '\n')
            r += "\\n";
        else
            r += c;
    }
    return r;
}

class Escritor {
public:
    explicit Escritor(const Metricas& m)
        : etiquetas_("carpeta=\"" + escapar(m.carpeta) + "\",puerto=\"" + escapar(m.puerto) + '"') {
    }

    void serie(const char* nombre, const char* tipo, const char* ayuda) {
        texto_ +=
            QByteArray("# HELP ") + nombre + ' ' + ayuda + "\n# TYPE " + nombre + ' ' + tipo + '\n';
    }
    void valor(const char* nombre, double v, const QByteArray& extra = {}) {
        texto_ += QByteArray(nombre) + '{' + etiquetas_ + extra + "} " +
                  QByteArray::number(v, 'g', 12) + '\n';
    }
    QByteArray texto() const { return texto_; }

private:
    QByteArray etiquetas_;
    QByteArray texto_;
};

} // namespace

QByteArray texto_metricas(const Metricas& m) {
    Escritor e(m);
    e.serie("quarvel_inicio_timestamp_segundos", "gauge", "When the checker started.");
    e.valor("quarvel_inicio_timestamp_segundos", static_cast<double>(m.inicio_s));
    e.serie("quarvel_ajustes_validos", "gauge",
            "1 while the settings files can work; 0 when the checker ended on them.");
    e.valor("quarvel_ajustes_validos", m.ajustes_validos ? 1 : 0);
    if (!m.ajustes_validos)
        return e.texto();
    if (m.ultimo && m.ultimo->estimacion.valida) {
        const auto& est = m.ultimo->estimacion;
        e.serie("quarvel_reloj_desvio_segundos", "gauge",
                "The clock minus the PC at the last read-back, estimated.");
        e.valor("quarvel_reloj_desvio_segundos", est.desvio_s);
        e.serie("quarvel_reloj_cota_segundos", "gauge",
                "How far the true offset may be from the estimate.");
        e.valor("quarvel_reloj_cota_segundos", est.cota_s);
        e.serie("quarvel_reloj_deriva_ppm", "gauge",
                "The clock's drift in parts per million; positive: it gains.");
        e.valor("quarvel_reloj_deriva_ppm", est.deriva * 1e6);
        e.serie("quarvel_reloj_cota_deriva_ppm", "gauge",
                "How far the true drift may be from the estimate, in ppm.");
        e.valor("quarvel_reloj_cota_deriva_ppm", est.cota_deriva * 1e6);
    }
    if (m.ultimo) {
        // Offset, bound and drift are left out while this is 0: unknown.
        e.serie("quarvel_reloj_estimacion_valida", "gauge",
                "1 while the offset estimate holds, 0 while it is unknown.");
        e.valor("quarvel_reloj_estimacion_valida", m.ultimo->estimacion.valida ? 1 : 0);
        e.serie("quarvel_ultima_lectura_timestamp_segundos", "gauge",
                "When the last read-back's request went out.");
        e.valor("quarvel_ultima_lectura_timestamp_segundos",
                static_cast<double>(m.ultimo->t_us) / 1e6);
        e.serie("quarvel_ultima_lectura_resultado", "gauge",
                "1 for the last read-back's result, 0 for the others.");
        for (const Resultado r :
             {Resultado::Bien, Resultado::Mal, Resultado::SinRespuesta, Resultado::ErrorPuerto})
            e.valor("quarvel_ultima_lectura_resultado", m.ultimo->resultado == r ? 1 : 0,
                    QByteArray(",resultado=\"") + nombre_de_resultado(r) + '"');
        if (m.ultimo->pc_sincronizado) {
            e.serie("quarvel_pc_sincronizado", "gauge",
                    "1 while the PC's own clock is synchronised, by the kernel.");
            e.valor("quarvel_pc_sincronizado", *m.ultimo->pc_sincronizado ? 1 : 0);
        }
    }
    if (m.ultima_respuesta_s) {
        e.serie("quarvel_ultima_respuesta_timestamp_segundos", "gauge",
                "When the clock last answered a read-back.");
        e.valor("quarvel_ultima_respuesta_timestamp_segundos",
                static_cast<double>(*m.ultima_respuesta_s));
    }
    const std::pair<const char*, std::pair<long, const char*>> contadores[] = {
        {"quarvel_lecturas_total", {m.lecturas, "Read-backs made."}},
        {"quarvel_lecturas_fallidas_total", {m.fallidas, "Read-backs with no answer or no port."}},
        {"quarvel_correcciones_total",
         {m.correcciones,
          "Sets a read-back called for (a wrong or silent clock, a fine correction)."}},
        {"quarvel_errores_puerto_total", {m.errores_puerto, "Failures of the serial port."}},
        {"quarvel_reloj_contradicciones_total",
         {m.contradicciones, "Replies that contradicted what the estimate knew."}},
        {"quarvel_puestas_no_tomadas_total",
         {m.puestas_no_tomadas, "Sets that later read-backs showed had not taken."}},
    };
    for (const auto& [nombre, c] : contadores) {
        e.serie(nombre, "counter", c.second);
        e.valor(nombre, static_cast<double>(c.first));
    }
    return e.texto();
}

QString nombre_metricas(const QString& carpeta) {
    const QString ruta = QFileInfo(carpeta).absoluteFilePath();
    QString base = QFileInfo(ruta).fileName();
    // Only what every tool takes in a file name.
    for (QChar& c : base)
        if (c.unicode() > 127 || (!c.isLetterOrNumber() && c != u'-' && c != u'_'))
            c = u'_';
    const QByteArray huella =
        QCryptographicHash::hash(ruta.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return QStringLiteral("quarvel430_%1_%2.prom").arg(base.left(40), QString::fromLatin1(huella));
}

} // namespace quarvel
