#include "checker/historial.h"
#include "tests/apoyo.h"

#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDeadlineTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QXYSeries>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using quarvel::FilaHistorial;
using quarvel430::Trazo;

namespace {

const qint64 kAhora = QDateTime(QDate(2026, 12, 8), QTime(10, 34, 17)).toMSecsSinceEpoch();
constexpr qint64 kMinuto = 60'000;

// Read-backs at these moments (ms before kAhora), a little offset each.
std::vector<FilaHistorial> filas_en(const std::vector<qint64>& antes_ms) {
    std::vector<FilaHistorial> r;
    for (const qint64 a : antes_ms) {
        FilaHistorial f;
        f.t_ms = kAhora - a;
        f.desvio_ms = 3.0 + static_cast<double>(r.size() % 7);
        f.cota_ms = 1.5;
        r.push_back(f);
    }
    return r;
}

// `n` read-backs `paso` apart, the last `ultima` before kAhora.
std::vector<qint64> seguidas(int n, qint64 paso, qint64 ultima = kMinuto) {
    std::vector<qint64> r;
    for (int i = n - 1; i >= 0; --i)
        r.push_back(ultima + i * paso);
    return r;
}

std::vector<qint64> mas(std::vector<qint64> a, const std::vector<qint64>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool esperar(const std::function<bool()>& listo) {
    QDeadlineTimer limite(5000);
    while (!listo() && !limite.hasExpired())
        esperar_eventos(10);
    return listo();
}

} // namespace

TEST(Historial, PartsTheLineWhereReadBacksStopOnly) {
    struct Caso {
        const char* que;
        std::vector<FilaHistorial> filas;
        std::size_t tramos;
    };
    auto sin_cifras = filas_en(seguidas(60, kMinuto));
    for (int i = 20; i < 25; ++i) {
        sin_cifras[static_cast<std::size_t>(i)].resultado = quarvel::Resultado::SinRespuesta;
        sin_cifras[static_cast<std::size_t>(i)].desvio_ms.reset();
    }
    auto una_perdida = filas_en(seguidas(60, kMinuto));
    una_perdida.erase(una_perdida.begin() + 30);
    auto con_puestas = filas_en(seguidas(60, kMinuto));
    for (int i = 5; i < 60; i += 10)
        con_puestas[static_cast<std::size_t>(i)].accion = quarvel::Accion::CorreccionFina;
    const Caso casos[] = {
        {"every minute", filas_en(seguidas(60, kMinuto)), 1},
        {"one read-back lost", una_perdida, 1},
        {"sets do not part it", con_puestas, 1},
        {"every ten minutes", filas_en(seguidas(6, 10 * kMinuto)), 1},
        {"a restart", filas_en(mas(seguidas(10, kMinuto, 40 * kMinuto), seguidas(10, kMinuto))), 2},
        {"two restarts, every ten minutes",
         filas_en(mas(
             mas(seguidas(3, 10 * kMinuto, 120 * kMinuto), seguidas(3, 10 * kMinuto, 60 * kMinuto)),
             seguidas(3, 10 * kMinuto))),
         3},
        {"five read-backs with no answer", sin_cifras, 2},
        {"the demo's quick reads, then the minute's",
         filas_en(mas(seguidas(30, 10'000, 21 * kMinuto), seguidas(20, kMinuto))), 1},
    };
    for (const Caso& c : casos) {
        const Trazo t = quarvel430::trazar(c.filas, kAhora - 3 * 3'600'000, kAhora, 1200);
        ASSERT_EQ(t.tramos.size(), c.tramos) << c.que;
        EXPECT_EQ(t.tramos[0].desvio, 0u);
        EXPECT_EQ(t.tramos[0].cota, 0u);
        // No piece spans a gap longer than the spacing allows.
        for (std::size_t k = 1; k < t.tramos.size(); ++k) {
            const qint64 hueco =
                t.desvio[t.tramos[k].desvio].first - t.desvio[t.tramos[k].desvio - 1].first;
            EXPECT_GT(hueco, 3 * kMinuto) << c.que;
            EXPECT_EQ(t.cota_alta[t.tramos[k].cota].first, t.desvio[t.tramos[k].desvio].first)
                << c.que << ": the band parts where the line does";
        }
    }
}

TEST(Historial, TheTimeAxisBeginsAtReadBacksShorterThanTheRange) {
    const qint64 hora = 3'600'000;
    struct Caso {
        const char* que;
        std::vector<qint64> filas, puestas;
        qint64 desde_min, desde_max; // ms before kAhora
    };
    const Caso casos[] = {
        {"none: the whole range", {}, {}, hora, hora},
        {"ten minutes: just before the first",
         seguidas(11, kMinuto),
         {},
         11 * kMinuto,
         11 * kMinuto + 30'000},
        {"one: two minutes at least", {5'000}, {}, 2 * kMinuto, 2 * kMinuto},
        {"a set before the first",
         seguidas(3, kMinuto),
         {7 * kMinuto},
         7 * kMinuto,
         7 * kMinuto + 30'000},
        {"longer than the range", seguidas(90, kMinuto), {}, hora, hora},
    };
    for (const Caso& c : casos) {
        std::vector<qint64> puestas;
        for (const qint64 p : c.puestas)
            puestas.push_back(kAhora - p);
        const qint64 desde =
            quarvel430::inicio_ajustado(filas_en(c.filas), puestas, kAhora - hora, kAhora);
        EXPECT_GE(kAhora - desde, c.desde_min) << c.que;
        EXPECT_LE(kAhora - desde, c.desde_max) << c.que;
    }
}

TEST(Historial, TimeTicksOnWholeMinutesAndNoMoreThanFit) {
    struct Caso {
        qint64 lapso_ms;
        int marcas_max;
        qint64 paso_min; // the tick step expected
    };
    const Caso casos[] = {{3 * kMinuto, 13, 1},
                          {13 * kMinuto, 13, 2},
                          {13 * kMinuto, 5, 5},
                          {60 * kMinuto, 4, 30},
                          {1440 * kMinuto, 6, 360}};
    for (const Caso& c : casos) {
        const auto e = quarvel430::eje_de_tiempo(kAhora - c.lapso_ms, kAhora, c.marcas_max);
        EXPECT_LE(e.desde_ms, kAhora - c.lapso_ms);
        EXPECT_GE(e.hasta_ms, kAhora);
        EXPECT_LE(e.marcas, c.marcas_max) << c.lapso_ms;
        ASSERT_GE(e.marcas, 2);
        EXPECT_EQ((e.hasta_ms - e.desde_ms) / (e.marcas - 1), c.paso_min * kMinuto) << c.lapso_ms;
        const QTime primero = QDateTime::fromMSecsSinceEpoch(e.desde_ms).time();
        EXPECT_EQ((primero.hour() * 60 + primero.minute()) % c.paso_min, 0) << c.lapso_ms;
        EXPECT_EQ(primero.second(), 0);
    }
}

TEST(HistorialFits, ItsReadBacksAcrossThePlotAndItsTimeLabels) {
    // Also run by CTest at twice the scale. Drawn as after a read-back.
    // Read-backs a minute apart; three days of them ten minutes apart label
    // the day too.
    for (const auto& [n, paso] : {std::pair{1, kMinuto}, std::pair{4, kMinuto},
                                  std::pair{40, kMinuto}, std::pair{432, 10 * kMinuto}}) {
        const auto filas = filas_en(seguidas(n, paso, 1000));
        quarvel430::FuentesHistorial fuentes;
        fuentes.filas = [&filas](bool& recortado) {
            recortado = false;
            return filas;
        };
        fuentes.ahora_ms = [] { return kAhora; };
        quarvel430::VentanaHistorial v(fuentes);
        v.show();
        const auto plano = [&v] { return v.grafico->chart()->plotArea(); };
        ASSERT_TRUE(esperar([&] { return plano().width() > 0 && plano().height() > 0; })) << n;
        QChart* chart = v.grafico->chart();
        EXPECT_GE(plano().height(), v.grafico->height() / 3) << n << " rows: the plot's height";

        // The line's points and the dots that mark single read-backs.
        double izquierda = 1e9;
        double derecha = -1e9;
        int puntos = 0;
        for (QAbstractSeries* s : chart->series()) {
            if (s->name() != QStringLiteral("lectura") &&
                s->name() != QStringLiteral("desvío del reloj"))
                continue;
            for (const QPointF& p : static_cast<QXYSeries*>(s)->points()) {
                const QPointF en = chart->mapToPosition(p, s);
                EXPECT_TRUE(plano().adjusted(-0.5, -0.5, 0.5, 0.5).contains(en))
                    << n << " rows: " << en.x() << "," << en.y();
                izquierda = std::min(izquierda, en.x());
                derecha = std::max(derecha, en.x());
                ++puntos;
            }
        }
        EXPECT_GT(puntos, 0) << n << " rows";
        if (n > 1) {
            EXPECT_GE(derecha - izquierda, 0.6 * plano().width()) << n << " rows";
        }

        // The time labels side by side without overlapping.
        const auto ejes = chart->axes(Qt::Horizontal);
        ASSERT_EQ(ejes.size(), 1);
        const auto* eje = static_cast<QDateTimeAxis*>(ejes[0]);
        const QFontMetrics fm(eje->labelsFont());
        const int etiqueta = fm.horizontalAdvance(eje->min().toString(eje->format()));
        EXPECT_LT(etiqueta * (eje->tickCount() - 1), plano().width())
            << n << " rows: " << eje->tickCount() << " labels";
    }
}

TEST(Historial, ThePcLineSaysWhatTheSystemToldAndNoMore) {
    // Windows' facts put together first: only a steered clock is called
    // synchronised, and it has no error to show.
    using quarvel::EstadoPc;
    const auto no = std::optional<bool>(false);
    const auto si = std::optional<bool>(true);
    const struct {
        EstadoPc pc;
        const char* texto;
    } casos[] = {
        {EstadoPc{true, true, 0.0123}, "El PC está sincronizado (error estimado 12,3 ms)"},
        {quarvel::estado_windows(si, no),
         "El PC está sincronizado (el sistema no da su error estimado)"},
        {quarvel::estado_windows(no, no), "Aviso: el PC no está sincronizado"},
        {quarvel::estado_windows(no, std::nullopt), "No se sabe si el PC está sincronizado"},
        {quarvel::estado_windows(no, si), "No se sabe si el PC está sincronizado"},
        {quarvel::estado_windows(std::nullopt, si), "No se sabe si el PC está sincronizado"},
    };
    for (const auto& c : casos) {
        quarvel430::FuentesHistorial fuentes;
        fuentes.filas = [](bool& recortado) {
            recortado = false;
            return std::vector<FilaHistorial>{};
        };
        fuentes.ahora_ms = [] { return kAhora; };
        fuentes.estado_pc = [&c] { return c.pc; };
        quarvel430::VentanaHistorial v(fuentes);
        v.show();
        EXPECT_TRUE(v.estado_pc->text().startsWith(QString::fromUtf8(c.texto)))
            << v.estado_pc->text().toStdString();
    }
}
