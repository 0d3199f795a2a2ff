#include "simulator/estudio_lecturas.h"

#include "clock_link/bitacora.h"
#include "clock_link/config_linea.h"

#include <QDateTime>
#include <QFile>
#include <cmath>

namespace quarvel::sim {

namespace {

constexpr std::int64_t kSegundo = 1'000'000;

LecturaReloj lectura_de(std::int64_t reloj_s) {
    const QDateTime t = QDateTime::fromSecsSinceEpoch(reloj_s);
    return {t.date().day(),  t.date().month(),  t.date().year() % 100,
            t.time().hour(), t.time().minute(), t.time().second()};
}

} // namespace

CasoEstudio caso_al_azar(std::uint32_t semilla, double deriva_max, double latencia_max_s,
                         Falla falla) {
    std::mt19937 azar(semilla);
    std::uniform_real_distribution<double> u(0, 1);
    const int baudios[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    CasoEstudio c;
    c.linea.baudios = baudios[std::uniform_int_distribution<int>(0, 7)(azar)];
    c.aparato.byte_s = 10.0 / c.linea.baudios;
    c.aparato.deriva = (u(azar) * 2 - 1) * deriva_max;
    c.aparato.latencia_s = u(azar) * latencia_max_s;
    c.aparato.fluctuacion_s = u(azar) * c.aparato.byte_s;
    c.aparato.error_puesta_s = 0.001;
    c.falla = falla;
    if (falla == Falla::Golpe) {
        c.golpe_en = 20 + std::uniform_int_distribution<int>(0, 40)(azar);
        c.golpe_s = (u(azar) < 0.5 ? -1 : 1) * (0.05 + u(azar) * 0.9);
    } else if (falla == Falla::SegundoAzar) {
        c.aparato.mentira = 0.3;
    } else if (falla == Falla::LatenciaAzar) {
        c.aparato.latencia_azar_s = 0.9;
    } else if (falla == Falla::SinPuestas) {
        c.golpe_en = 15;
    }
    c.umbral_ms = 50;
    return c;
}

ResultadoEstudio estudiar(const std::vector<CasoEstudio>& casos, int lecturas,
                          const QString& historial) {
    ResultadoEstudio r;
    const std::int64_t inicio =
        QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    std::uint32_t semilla = 1;
    for (const CasoEstudio& c : casos) {
        QFile::remove(historial);
        ModeloAparato aparato(c.aparato, inicio, ++semilla);
        std::mt19937 azar(semilla * 7919U);
        std::uniform_real_distribution<double> u(0, 1);
        BitacoraLecturas::Opciones op;
        op.historial = historial;
        op.diario = [](Prioridad, const QString&) {};
        BitacoraLecturas b(op);
        b.fijar_limites(limites_de_linea(c.linea));
        b.fijar_umbral(c.umbral_ms);
        aparato.puesta(inicio);
        b.puesta(inicio);
        // From the first read a lying device lies.
        bool falla_activa = c.falla == Falla::SegundoAzar || c.falla == Falla::LatenciaAzar;
        bool vista = false;
        std::vector<int> finas;
        int actualizaciones = 0;
        std::int64_t minuto = inicio;
        int desde_perdida = -1;
        // The bound shown by the last read before the knock, s.
        double cota_antes_s = 1e9;
        int fallidas_antes = 0;
        for (int n = 1; n <= lecturas; ++n) {
            minuto += 60 * kSegundo;
            if (c.falla == Falla::Golpe && n == c.golpe_en) {
                aparato.golpe(minuto, c.golpe_s);
                falla_activa = true;
            }
            if (c.falla == Falla::SinPuestas && n == c.golpe_en)
                aparato.ignorar_puestas(true);
            const std::int64_t segundo31 = minuto + 31 * kSegundo;
            // The display's tick comes a few ms into second 31 (it never
            // fires early), then the port is opened: 2 to 20 ms in.
            const auto desde = segundo31 + 2'000 + static_cast<std::int64_t>(u(azar) * 18'000);
            const std::int64_t t = b.momento_de_lectura(desde);
            const auto escritura = static_cast<std::int64_t>(u(azar) * 300);
            std::int64_t llegada = 0;
            const std::int64_t reloj_s =
                aparato.responder(t + static_cast<std::int64_t>(u(azar) * escritura), &llegada);
            LecturaHecha l;
            l.t_us = t;
            l.escritura_us = escritura;
            l.llegada_us = llegada;
            l.reloj = lectura_de(reloj_s);
            l.completa = true;
            // The designed comparison: date, hours and minutes.
            l.equivocado = reloj_s / 60 != (t / kSegundo) / 60;
            l.pc = {true, true, 0.0001};
            l.hora = QStringLiteral("10:00:31");
            const Registro reg = b.lectura(l, 1);
            ++r.lecturas;
            // Seen: a read at odds with what was known, by either account.
            if ((reg.veredicto != EstimadorDesvio::Veredicto::Coherente ||
                 (reg.suceso != EstimadorVentana::Suceso::Ninguno &&
                  reg.suceso != EstimadorVentana::Suceso::PuestaConfirmada)) &&
                falla_activa)
                vista = true;
            if (desde_perdida >= 0 && ++desde_perdida <= 2 &&
                reg.suceso == EstimadorVentana::Suceso::PuestaNoTomada) {
                ++r.no_tomadas_dichas;
                desde_perdida = -1;
            }
            const auto& e = reg.estimacion;
            if (e.valida) {
                ++r.publicadas;
                if (std::abs(e.desvio_s - aparato.desvio(t)) > e.cota_s) {
                    ++(falla_activa && !vista ? r.fallidas_antes_de_verla : r.fallidas);
                    fallidas_antes += falla_activa && !vista ? 1 : 0;
                }
                if (!falla_activa)
                    cota_antes_s = e.cota_s;
                if (std::abs(e.deriva - c.aparato.deriva) > e.cota_deriva &&
                    (!falla_activa || vista))
                    ++r.deriva_fallida;
                const double error_ms = (e.desvio_s - aparato.desvio(t)) * 1e3;
                if (c.falla == Falla::Ninguna && !c.umbral_ms) {
                    if (n == 5)
                        r.error_tras_5_ms.push_back(error_ms);
                    if (n == 10)
                        r.error_tras_10_ms.push_back(error_ms);
                    if (n == 20)
                        r.error_tras_20_ms.push_back(error_ms);
                    if (n == 60)
                        r.error_deriva_tras_60_ppm.push_back((e.deriva - c.aparato.deriva) * 1e6);
                }
                if (c.falla == Falla::Golpe && !c.umbral_ms && n == c.golpe_en + 10)
                    r.error_tras_golpe_ms.push_back(error_ms);
            } else {
                ++r.no_validas;
                if (!falla_activa)
                    cota_antes_s = 1e9;
            }
            if (reg.accion != Accion::Ninguna) {
                if (reg.accion == Accion::CorreccionFina)
                    finas.push_back(n);
                else
                    ++actualizaciones;
                // The update lands on a whole second a few seconds on.
                const std::int64_t puesta = (t / kSegundo + 4) * kSegundo;
                if (aparato.config().ignorar_puestas) {
                    ++r.puestas_perdidas;
                    falla_activa = true;
                    desde_perdida = 0;
                }
                // A fine correction lands late or early on purpose, as the
                // checker's does.
                const double desvio = b.desvio_de_correccion_fina_s();
                aparato.puesta(puesta, desvio);
                b.puesta(puesta, desvio);
            }
        }
        const double horas = lecturas / 60.0;
        std::size_t peor = 0;
        for (std::size_t i = 0; i < finas.size(); ++i) {
            std::size_t j = i;
            while (j < finas.size() && finas[j] < finas[i] + 60)
                ++j;
            peor = std::max(peor, j - i);
        }
        r.finas_por_hora.push_back(static_cast<double>(peor));
        if (c.falla == Falla::Golpe)
            (cota_antes_s <= 0.010 ? r.golpe_fallidas_conocido : r.golpe_fallidas_resto)
                .push_back(fallidas_antes);
        r.actualizaciones_por_hora.push_back(actualizaciones / horas);
    }
    QFile::remove(historial);
    return r;
}

} // namespace quarvel::sim
