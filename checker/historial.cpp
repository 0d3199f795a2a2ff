#include "checker/historial.h"

#include "clock_link/palabras.h"
#include "platform/fallo.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

using namespace quarvel;

namespace quarvel430 {

namespace {

constexpr qint64 kDiaMs = 86'400'000;
constexpr qint64 kHoraMs = 3'600'000;
// Figures beyond this (ms) are no clock's offset: left out of the plot.
constexpr double kDibujable = 1e7;
// About a point per pixel of a wide window.
constexpr int kCubos = 1200;

QList<QPointF> puntos(const std::vector<std::pair<qint64, double>>& v) {
    QList<QPointF> r;
    r.reserve(static_cast<qsizetype>(v.size()));
    for (const auto& [t, y] : v)
        r.append(QPointF(static_cast<double>(t), y));
    return r;
}

} // namespace

Trazo trazar(const std::vector<FilaHistorial>& filas, qint64 desde_ms, qint64 hasta_ms, int cubos) {
    struct Cubo {
        bool usado = false;
        std::pair<qint64, double> bajo{0, std::numeric_limits<double>::max()};
        std::pair<qint64, double> alto{0, std::numeric_limits<double>::lowest()};
        double cota_alta = std::numeric_limits<double>::lowest();
        double cota_baja = std::numeric_limits<double>::max();
    };
    Trazo t;
    if (hasta_ms <= desde_ms || cubos <= 0)
        return t;
    std::vector<Cubo> c(static_cast<std::size_t>(cubos));
    // One mark of each kind per bucket: more would only overlap.
    std::vector<char> marcado(c.size(), 0);
    const double ancho = static_cast<double>(hasta_ms - desde_ms) / cubos;
    for (const FilaHistorial& f : filas) {
        if (f.t_ms < desde_ms || f.t_ms > hasta_ms)
            continue;
        const auto i = std::min<std::size_t>(
            static_cast<std::size_t>(static_cast<double>(f.t_ms - desde_ms) / ancho), c.size() - 1);
        if ((f.resultado == Resultado::SinRespuesta || f.resultado == Resultado::ErrorPuerto) &&
            (marcado[i] & 1) == 0) {
            marcado[i] |= 1;
            t.silencios.emplace_back(f.t_ms, 0.0);
        }
        if (f.accion != Accion::Ninguna && (marcado[i] & 2) == 0) {
            marcado[i] |= 2;
            const double y = f.desvio_ms.value_or(0);
            t.correcciones.emplace_back(f.t_ms, std::abs(y) > kDibujable ? 0.0 : y);
        }
        if (!f.desvio_ms)
            continue;
        if (std::abs(*f.desvio_ms) > kDibujable || std::abs(f.cota_ms.value_or(0)) > kDibujable) {
            ++t.omitidas;
            continue;
        }
        Cubo& k = c[i];
        k.usado = true;
        const double d = *f.desvio_ms;
        if (d < k.bajo.second)
            k.bajo = {f.t_ms, d};
        if (d > k.alto.second)
            k.alto = {f.t_ms, d};
        const double cota = f.cota_ms.value_or(0);
        k.cota_alta = std::max(k.cota_alta, d + cota);
        k.cota_baja = std::min(k.cota_baja, d - cota);
    }
    for (std::size_t i = 0; i < c.size(); ++i) {
        const Cubo& k = c[i];
        if (!k.usado)
            continue;
        // In time order, so the line does not run back.
        const auto [primero, segundo] =
            k.bajo.first <= k.alto.first ? std::pair{k.bajo, k.alto} : std::pair{k.alto, k.bajo};
        t.desvio.push_back(primero);
        if (segundo.first != primero.first)
            t.desvio.push_back(segundo);
        const auto medio = desde_ms + static_cast<qint64>((static_cast<double>(i) + 0.5) * ancho);
        t.cota_alta.emplace_back(medio, k.cota_alta);
        t.cota_baja.emplace_back(medio, k.cota_baja);
    }
    return t;
}

EjeTiempo eje_de_tiempo(qint64 desde_ms, qint64 hasta_ms) {
    // Steps a tick may take, in minutes; the first that leaves at most a
    // dozen ticks, the range widened to whole steps of local time.
    constexpr qint64 pasos_min[] = {10, 15, 30, 60, 120, 180, 360, 720, 1440, 2880, 4320, 10080};
    qint64 paso = pasos_min[std::size(pasos_min) - 1] * 60'000;
    for (const qint64 p : pasos_min) {
        if ((hasta_ms - desde_ms) / (p * 60'000) <= 11) {
            paso = p * 60'000;
            break;
        }
    }
    // Whole steps counted from local midnight, so the ticks fall on whole
    // hours and days as the wall clock shows them.
    const qint64 desfase = QDateTime::fromMSecsSinceEpoch(desde_ms).offsetFromUtc() * 1000LL;
    const auto abajo = [&](qint64 t) {
        const qint64 local = t + desfase;
        return local - ((local % paso) + paso) % paso - desfase;
    };
    EjeTiempo e;
    e.desde_ms = abajo(desde_ms);
    e.hasta_ms = abajo(hasta_ms);
    if (e.hasta_ms < hasta_ms)
        e.hasta_ms += paso;
    if (e.hasta_ms <= e.desde_ms)
        e.hasta_ms = e.desde_ms + paso;
    e.marcas = static_cast<int>((e.hasta_ms - e.desde_ms) / paso) + 1;
    // A label fits about 60 pixels: the day only where the hours alone
    // would not tell it.
    if (paso >= kDiaMs)
        e.formato = QStringLiteral("dd/MM");
    else if (e.hasta_ms - e.desde_ms > 36 * kHoraMs)
        e.formato = QStringLiteral("dd/MM HH:mm");
    else
        e.formato = QStringLiteral("HH:mm");
    return e;
}

VentanaHistorial::VentanaHistorial(FuentesHistorial fuentes, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , fuentes_(std::move(fuentes)) {
    setWindowTitle(QStringLiteral("Historial"));
    auto* capas = new QVBoxLayout(this);

    auto* fila_rangos = new QHBoxLayout;
    // No button group: in one, a focused button takes Tab from the others
    // and leaves them to the arrow keys. mostrarRango checks one alone.
    const std::pair<const char*, Rango> botones[] = {{"Hora", Rango::Hora},
                                                     {"Desde la puesta", Rango::DesdePuesta},
                                                     {"Día", Rango::Dia},
                                                     {"Semana", Rango::Semana},
                                                     {"Mes", Rango::Mes}};
    for (const auto& [texto, r] : botones) {
        auto* b = new QPushButton(QString::fromUtf8(texto), this);
        b->setCheckable(true);
        // Tab reaches each one, as it does every other control.
        b->setFocusPolicy(Qt::StrongFocus);
        rangos_.emplace_back(b, r);
        fila_rangos->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, r = r] { mostrarRango(r); });
    }
    fila_rangos->addStretch();
    capas->addLayout(fila_rangos);

    grafico = new QChartView(this);
    grafico->setRenderHint(QPainter::Antialiasing, false);
    // Nothing in it takes the keyboard.
    grafico->setFocusPolicy(Qt::NoFocus);
    capas->addWidget(grafico, 1);

    deriva = new QLabel(this);
    estado_pc = new QLabel(this);
    deriva->setWordWrap(true);
    estado_pc->setWordWrap(true);
    capas->addWidget(deriva);
    capas->addWidget(estado_pc);

    auto* fila_fino = new QHBoxLayout;
    corregir = new QCheckBox(QStringLiteral("corregir si se desvía más de"), this);
    umbral = new QSpinBox(this);
    umbral->setRange(1, 60'000);
    umbral->setValue(50);
    umbral->setSuffix(QStringLiteral(" ms"));
    fila_fino->addWidget(corregir);
    fila_fino->addWidget(umbral);
    fila_fino->addStretch();
    capas->addLayout(fila_fino);
    fino = new QLabel(this);
    fino->setWordWrap(true);
    capas->addWidget(fino);
    omitidas = new QLabel(this);
    omitidas->setWordWrap(true);
    capas->addWidget(omitidas);
    aviso = new QLabel(this);
    aviso->setWordWrap(true);
    capas->addWidget(aviso);

    if (fuentes_.umbral) {
        const auto u = fuentes_.umbral();
        corregir->setChecked(u.has_value());
        if (u)
            umbral->setValue(*u);
    }
    umbral->setEnabled(corregir->isChecked());
    connect(corregir, &QCheckBox::toggled, this, &VentanaHistorial::umbral_cambiado);
    connect(umbral, &QSpinBox::editingFinished, this, &VentanaHistorial::umbral_cambiado);

    filas_ = fuentes_.filas ? fuentes_.filas(recortado_) : std::vector<FilaHistorial>{};
    // Opens on the shortest range that holds the last month's read-backs.
    const qint64 ahora =
        fuentes_.ahora_ms ? fuentes_.ahora_ms() : QDateTime::currentMSecsSinceEpoch();
    const auto primera = std::find_if(filas_.begin(), filas_.end(), [&](const FilaHistorial& f) {
        return f.t_ms >= ahora - 30 * kDiaMs;
    });
    const qint64 lapso = primera == filas_.end() ? 0 : ahora - primera->t_ms;
    rango_ = lapso <= kHoraMs      ? Rango::Hora
             : lapso <= kDiaMs     ? Rango::Dia
             : lapso <= 7 * kDiaMs ? Rango::Semana
                                   : Rango::Mes;
    mostrarRango(rango_);
    // Within the screen it opens on, whatever its scale.
    const QRect pantalla = screen() ? screen()->availableGeometry() : QRect(0, 0, 760, 460);
    resize(std::min(760, pantalla.width() * 9 / 10), std::min(460, pantalla.height() * 9 / 10));
}

void VentanaHistorial::umbral_cambiado() {
    umbral->setEnabled(corregir->isChecked());
    if (!fuentes_.fijar_umbral)
        return;
    const std::optional<int> u =
        corregir->isChecked() ? std::optional<int>(umbral->value()) : std::nullopt;
    try {
        fuentes_.fijar_umbral(u);
        aviso->setText(u ? QStringLiteral("Se corrige el reloj cuando se desvía más de %1 ms "
                                          "(con el PC sincronizado)")
                               .arg(*u)
                         : QString());
    } catch (const Fallo& f) {
        aviso->setText(f.descripcion());
    }
}

void VentanaHistorial::recargar() {
    filas_ = fuentes_.filas ? fuentes_.filas(recortado_) : std::vector<FilaHistorial>{};
    dibujar();
}

void VentanaHistorial::mostrarRango(Rango r) {
    rango_ = r;
    for (const auto& [b, rango] : rangos_)
        b->setChecked(rango == r);
    dibujar();
}

void VentanaHistorial::dibujar() {
    const qint64 ahora =
        fuentes_.ahora_ms ? fuentes_.ahora_ms() : QDateTime::currentMSecsSinceEpoch();
    const std::vector<qint64> puestas =
        fuentes_.puestas ? fuentes_.puestas() : std::vector<qint64>{};
    qint64 inicio = ahora - kHoraMs;
    switch (rango_) {
    case Rango::Hora:
        break;
    case Rango::DesdePuesta: {
        // From the last set the history or this run knows of, a little
        // before it; an hour when there is none.
        qint64 ultima = 0;
        for (const FilaHistorial& f : filas_)
            if (f.accion != Accion::Ninguna)
                ultima = std::max(ultima, f.t_ms);
        for (const qint64 p : puestas)
            ultima = std::max(ultima, p);
        if (ultima > 0 && ultima < ahora)
            inicio = ultima - std::max<qint64>((ahora - ultima) / 20, 60'000);
        break;
    }
    case Rango::Dia:
        inicio = ahora - kDiaMs;
        break;
    case Rango::Semana:
        inicio = ahora - 7 * kDiaMs;
        break;
    case Rango::Mes:
        inicio = ahora - 30 * kDiaMs;
        break;
    }
    const EjeTiempo eje = eje_de_tiempo(inicio, ahora);
    const qint64 desde = eje.desde_ms;
    const qint64 hasta = eje.hasta_ms;
    Trazo t = trazar(filas_, desde, hasta, kCubos);
    for (const qint64 p : puestas)
        if (p >= desde && p <= hasta)
            t.correcciones.emplace_back(p, 0.0);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // The area does not own its edges: they are its children.
    auto* cota = new QAreaSeries;
    auto* alta = new QLineSeries(cota);
    auto* baja = new QLineSeries(cota);
    alta->replace(puntos(t.cota_alta));
    baja->replace(puntos(t.cota_baja));
    cota->setUpperSeries(alta);
    cota->setLowerSeries(baja);
    cota->setName(QStringLiteral("cota"));
    cota->setColor(QColor(120, 160, 230, 90));
    cota->setBorderColor(QColor(120, 160, 230, 90));
    auto* desvio = new QLineSeries;
    desvio->setName(QStringLiteral("desvío del reloj (ms)"));
    desvio->replace(puntos(t.desvio));
    desvio->setColor(QColor(20, 60, 160));
    auto* correcciones = new QScatterSeries;
    correcciones->setName(QStringLiteral("puesta en hora"));
    correcciones->setMarkerSize(9);
    correcciones->setColor(QColor(200, 30, 30));
    correcciones->replace(puntos(t.correcciones));
    // Where they are few, each read-back a dot too, so a single one shows.
    auto* lecturas = new QScatterSeries;
    lecturas->setName(QStringLiteral("lectura"));
    lecturas->setMarkerSize(5);
    lecturas->setColor(QColor(20, 60, 160));
    lecturas->setBorderColor(QColor(20, 60, 160));
    if (t.desvio.size() <= 120)
        lecturas->replace(puntos(t.desvio));
    auto* silencios = new QScatterSeries;
    silencios->setName(QStringLiteral("sin respuesta"));
    silencios->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    silencios->setMarkerSize(7);
    silencios->setColor(QColor(110, 110, 110));
    silencios->replace(puntos(t.silencios));
    for (QAbstractSeries* s :
         std::initializer_list<QAbstractSeries*>{cota, desvio, lecturas, correcciones, silencios})
        chart->addSeries(s);

    // The dots are the line's: one entry in the legend.
    for (QLegendMarker* m : chart->legend()->markers(lecturas))
        m->setVisible(false);
    auto* eje_t = new QDateTimeAxis;
    eje_t->setFormat(eje.formato);
    eje_t->setTickCount(eje.marcas);
    eje_t->setRange(QDateTime::fromMSecsSinceEpoch(desde), QDateTime::fromMSecsSinceEpoch(hasta));
    auto* eje_y = new QValueAxis;
    eje_y->setTitleText(QStringLiteral("ms"));
    double lo = 0;
    double hi = 0;
    for (const auto* v : {&t.desvio, &t.cota_alta, &t.cota_baja, &t.correcciones})
        for (const auto& p : *v) {
            lo = std::min(lo, p.second);
            hi = std::max(hi, p.second);
        }
    const double margen = std::max(1.0, (hi - lo) * 0.08);
    eje_y->setRange(lo - margen, hi + margen);
    eje_y->applyNiceNumbers();
    chart->addAxis(eje_t, Qt::AlignBottom);
    chart->addAxis(eje_y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(eje_t);
        s->attachAxis(eje_y);
    }
    QChart* viejo = grafico->chart();
    grafico->setChart(chart);
    delete viejo;

    // The drift with its bound from the checker when it has one, else the
    // history's last figure.
    const std::optional<Registro> ultimo = fuentes_.ultimo ? fuentes_.ultimo() : std::nullopt;
    QString texto_deriva;
    if (ultimo && ultimo->estimacion.valida) {
        const auto& e = ultimo->estimacion;
        texto_deriva =
            frase_deriva(e.deriva, e.cota_deriva) + QStringLiteral("; ") + texto_desvio(e);
    } else if (ultimo) {
        texto_deriva = QStringLiteral("Desvío y deriva del reloj desconocidos por ahora: sus "
                                      "respuestas no bastan o se contradicen");
    } else {
        const auto f = std::find_if(filas_.rbegin(), filas_.rend(), [](const FilaHistorial& x) {
            return x.deriva_ppm.has_value() && x.cota_deriva_ppm.has_value();
        });
        texto_deriva = f == filas_.rend()
                           ? QStringLiteral("Aún no hay lecturas con las que estimar la deriva "
                                            "del reloj")
                           : frase_deriva(*f->deriva_ppm * 1e-6, *f->cota_deriva_ppm * 1e-6);
    }
    deriva->setText(texto_deriva);
    QStringList avisos;
    if (t.omitidas > 0)
        avisos << QStringLiteral("%1 lecturas del historial tienen cifras que no se pueden "
                                 "dibujar y se omiten")
                      .arg(t.omitidas);
    if (recortado_)
        avisos << QStringLiteral("El historial es mayor de lo que se lee: se muestra su parte "
                                 "más reciente");
    omitidas->setText(avisos.join(QLatin1Char('\n')));
    omitidas->setVisible(!avisos.isEmpty());
    if (fuentes_.estado_fino && corregir->isChecked())
        fino->setText(
            QStringLiteral("Corrección fina %1").arg(texto_estado_fino(fuentes_.estado_fino())));
    else
        fino->clear();

    const EstadoPc pc = fuentes_.estado_pc ? fuentes_.estado_pc() : EstadoPc{};
    if (!pc.conocido)
        estado_pc->setText(QStringLiteral("No se sabe si el PC está sincronizado"));
    else if (pc.sincronizado)
        estado_pc->setText(
            QStringLiteral("El PC está sincronizado (error estimado %1 ms)")
                .arg(QLocale(QLocale::Spanish, QLocale::Spain).toString(pc.error_s * 1e3, 'f', 1)));
    else
        estado_pc->setText(QStringLiteral("Aviso: el PC no está sincronizado; el reloj se pone "
                                          "en hora con un PC que puede estar desviado"));
}

} // namespace quarvel430
