// The clock's reply to "CX": completion test, decoding of the value bytes,
// the texts compared with the PC's and the mismatch line of sincro.txt.
#include "fuzz/apoyo_fuzz.h"

#include "clock_link/codificacion.h"
#include "clock_link/decodificacion.h"

#include <QDate>
#include <QTime>

namespace {

const QString kFechaPc = QStringLiteral("05/12/2026");
const QString kHoraPc = QStringLiteral("14:05:31");

// Texts built from the decoded numbers are short and plain ASCII, so the
// Latin-1 line of sincro.txt loses nothing.
bool texto_corto_ascii(const QString& s) {
    if (s.isEmpty() || s.size() > 16)
        return false;
    for (QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

void comprobar(const QByteArray& recibido) {
    // Complete at an "S" that is not a value byte, and never without one.
    bool s_fuera = false;
    for (qsizetype i = 0; i < recibido.size(); ++i)
        if (recibido[i] == 'S' && (i > 13 || i % 2 == 0 || i < 3))
            s_fuera = true;
    EXIGIR(quarvel::respuesta_completa(recibido) == s_fuera);

    // The checker decodes what it saved: the reply plus CR LF.
    const QByteArray salida = recibido + "\r\n";
    const quarvel::LecturaReloj l = quarvel::decodificar_salida(salida);
    for (int v : {l.dia, l.mes, l.anio, l.hora, l.minuto, l.segundo})
        EXIGIR(v >= 0 && v <= 255);

    const QString fecha = quarvel::texto_fecha_reloj(l);
    const QString hora = quarvel::texto_hora_reloj(l);
    EXIGIR(texto_corto_ascii(fecha));
    EXIGIR(texto_corto_ascii(hora));

    const bool mal = quarvel::reloj_equivocado(fecha, hora, kFechaPc, kHoraPc);
    // Seconds never count, so a reply agreeing to the minute is right.
    EXIGIR(mal == (fecha != kFechaPc || hora.left(5) != kHoraPc.left(5)));
    EXIGIR(!quarvel::reloj_equivocado(kFechaPc, kHoraPc, kFechaPc, kHoraPc));

    const QByteArray linea = quarvel::linea_sincro(fecha, kFechaPc, hora, kHoraPc);
    EXIGIR(linea.endsWith("\r\n"));
    EXIGIR(linea.count('\r') == 1 && linea.count('\n') == 1);
    EXIGIR(linea.contains(fecha.toLatin1()) && linea.contains(hora.toLatin1()));
}

// A reply the device would send for a date and time it can hold.
void comprobar_ida_y_vuelta(const std::uint8_t* datos, std::size_t largo) {
    if (largo < 6)
        return;
    const int anio = datos[0] % 100; // the two digits a clock keeps
    const int mes = 1 + datos[1] % 12;
    const int dias_mes = QDate(2000 + anio, mes, 1).daysInMonth();
    const int dia = 1 + datos[2] % dias_mes;
    const int hora = datos[3] % 24;
    const int minuto = datos[4] % 60;
    const int segundo = datos[5] % 60;

    QByteArray r("CXd?m?y?h?n?s?S");
    const int valores[6] = {dia, mes, anio, hora, minuto, segundo};
    for (int i = 0; i < 6; ++i)
        r[quarvel::kPosicionesRespuesta[i] - 1] = static_cast<char>(quarvel::bcd(valores[i]));
    EXIGIR(quarvel::respuesta_completa(r));

    const quarvel::LecturaReloj l = quarvel::decodificar_salida(r + "\r\n");
    EXIGIR(l.dia == dia && l.mes == mes && l.anio == anio);
    EXIGIR(l.hora == hora && l.minuto == minuto && l.segundo == segundo);

    const QString fecha = quarvel::texto_fecha_reloj(l);
    const QString texto_hora = quarvel::texto_hora_reloj(l);
    EXIGIR(fecha == QDate(2000 + anio, mes, dia).toString(QStringLiteral("dd/MM/yyyy")));
    EXIGIR(texto_hora == QTime(hora, minuto, segundo).toString(QStringLiteral("HH:mm:ss")));
    // The PC showing that same date and time, any second, finds it right.
    EXIGIR(!quarvel::reloj_equivocado(fecha, texto_hora, fecha, texto_hora.left(6) + "59"));
    EXIGIR(quarvel::reloj_equivocado(
        fecha, texto_hora, fecha,
        QTime(hora, minuto).addSecs(60).toString(QStringLiteral("HH:mm:ss"))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* datos, std::size_t largo) {
    comprobar(quarvel_fuzz::bytes(datos, largo));
    comprobar_ida_y_vuelta(datos, largo);
    return 0;
}
