#include "checker/historial.h"

#include "clock_link/palabras.h"
#include "platform/fallo.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
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
// No gap shorter than this parts the line (see trazar).
constexpr qint64 kHuecoMinimo = 3 * 60'000;
// Pieces of line and band at most.
constexpr std::size_t kTramos = 64;

QList<QPointF> puntos(const std::vector<std::pair<qint64, double>>& v) {
    QList<QPointF> r;
    r.reserve(static_cast<qsizetype>(v.size()));
    for (const auto& [t, y] : v)
        r.append(QPointF(static_cast<double>(t), y));
    return r;
}

} // namespace

Trazo trazar(const std::vector<FilaHistorial>& filas, qint64 desde_ms, qint64 hasta_ms, int cubos) {
    Trazo t;
    if (hasta_ms <= desde_ms || cubos <= 0)
        return t;
    const double ancho = static_cast<double>(hasta_ms - desde_ms) / cubos;
    const auto cubo_de = [&](qint64 t_ms) {
        return std::min<std::size_t>(
            static_cast<std::size_t>(static_cast<double>(t_ms - desde_ms) / ancho),
            static_cast<std::size_t>(cubos) - 1);
    };
    struct Punto {
        qint64 t;
        double d, cota;
    };
    std::vector<Punto> dibujables;
    std::vector<qint64> momentos;
    // One mark of each kind per bucket: more would only overlap.
    std::vector<char> marcado(static_cast<std::size_t>(cubos), 0);
    for (const FilaHistorial& f : filas) {
        if (f.t_ms < desde_ms || f.t_ms > hasta_ms)
            continue;
        momentos.push_back(f.t_ms);
        const std::size_t i = cubo_de(f.t_ms);
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
        dibujables.push_back({f.t_ms, *f.desvio_ms, f.cota_ms.value_or(0)});
    }
    if (dibujables.empty())
        return t;
    // A PC clock set back leaves the file out of order.
    const auto antes = [](const Punto& x, const Punto& y) { return x.t < y.t; };
    if (!std::is_sorted(dibujables.begin(), dibujables.end(), antes))
        std::stable_sort(dibujables.begin(), dibujables.end(), antes);
    std::sort(momentos.begin(), momentos.end());

    // The line parts where no figure came for 2.5 times the usual (median)
    // spacing of the range's read-backs: one lost read-back leaves twice
    // it and keeps the line. Never under kHuecoMinimo, so that the demo's
    // quick reads among the minute's own, or a few read-backs asked by
    // hand, do not cut the regular spacing into pieces. A set does not
    // part it: its jump is the set's, and fine correction can set six
    // times an hour.
    std::vector<qint64> pasos;
    for (std::size_t i = 1; i < momentos.size(); ++i)
        if (momentos[i] > momentos[i - 1])
            pasos.push_back(momentos[i] - momentos[i - 1]);
    qint64 hueco = kHuecoMinimo;
    if (!pasos.empty()) {
        const auto medio = pasos.begin() + static_cast<std::ptrdiff_t>(pasos.size() / 2);
        std::nth_element(pasos.begin(), medio, pasos.end());
        hueco = std::max(hueco, *medio * 5 / 2);
    }
    std::vector<std::pair<qint64, std::size_t>> huecos; // length, row after it
    for (std::size_t i = 1; i < dibujables.size(); ++i)
        if (dibujables[i].t - dibujables[i - 1].t > hueco)
            huecos.emplace_back(dibujables[i].t - dibujables[i - 1].t, i);
    // Each piece is two series: past kTramos, the shortest gaps are drawn
    // across.
    if (huecos.size() >= kTramos) {
        std::nth_element(huecos.begin(), huecos.begin() + (kTramos - 1), huecos.end(),
                         std::greater<>());
        huecos.resize(kTramos - 1);
    }
    std::vector<char> corte(dibujables.size(), 0);
    for (const auto& h : huecos)
        corte[h.second] = 1;

    struct Cubo {
        std::size_t i = 0;
        qint64 primero = 0, ultimo = 0;
        std::pair<qint64, double> bajo, alto;
        double cota_alta = 0, cota_baja = 0;
    };
    const auto cerrar = [&t](const Cubo& k) {
        // In time order, so the line does not run back.
        const auto [uno, otro] =
            k.bajo.first <= k.alto.first ? std::pair{k.bajo, k.alto} : std::pair{k.alto, k.bajo};
        t.desvio.push_back(uno);
        if (otro.first != uno.first)
            t.desvio.push_back(otro);
        // The band over the bucket's own read-backs, so a piece's band ends
        // where its line does.
        t.cota_alta.emplace_back(k.primero, k.cota_alta);
        t.cota_baja.emplace_back(k.primero, k.cota_baja);
        if (k.ultimo != k.primero) {
            t.cota_alta.emplace_back(k.ultimo, k.cota_alta);
            t.cota_baja.emplace_back(k.ultimo, k.cota_baja);
        }
    };
    Cubo k;
    for (std::size_t j = 0; j < dibujables.size(); ++j) {
        const Punto& p = dibujables[j];
        const std::size_t i = cubo_de(p.t);
        if (j > 0 && (i != k.i || corte[j]))
            cerrar(k);
        if (j == 0 || corte[j])
            t.tramos.push_back({t.desvio.size(), t.cota_alta.size()});
        if (j == 0 || i != k.i || corte[j]) {
            k = Cubo{i, p.t, p.t, {p.t, p.d}, {p.t, p.d}, p.d + p.cota, p.d - p.cota};
            continue;
        }
        k.ultimo = p.t;
        if (p.d < k.bajo.second)
            k.bajo = {p.t, p.d};
        if (p.d > k.alto.second)
            k.alto = {p.t, p.d};
        k.cota_alta = std::max(k.cota_alta, p.d + p.cota);
        k.cota_baja = std::min(k.cota_baja, p.d - p.cota);
    }
    cerrar(k);
    return t;
}

qint64 inicio_ajustado(const std::vector<FilaHistorial>& filas,
                       const std::vector<qint64>& puestas_ms, qint64 inicio_ms, qint64 ahora_ms) {
    qint64 primero = std::numeric_limits<qint64>::max();
    for (const FilaHistorial& f : filas)
        if (f.t_ms >= inicio_ms && f.t_ms <= ahora_ms)
            primero = std::min(primero, f.t_ms);
    for (const qint64 p : puestas_ms)
        if (p >= inicio_ms && p <= ahora_ms)
            primero = std::min(primero, p);
    if (primero == std::numeric_limits<qint64>::max())
        return inicio_ms;
    // A little before the first, so its mark does not sit on the edge.
    const qint64 antes = primero - std::max<qint64>((ahora_ms - primero) / 50, 1000);
    return std::max(inicio_ms, std::min(antes, ahora_ms - kLapsoMinimoMs));
}

EjeTiempo eje_de_tiempo(qint64 desde_ms, qint64 hasta_ms, int marcas_max) {
    // Steps a tick may take, in minutes: the first that leaves at most
    // `marcas_max` ticks once the range is widened to whole steps, counted
    // from local midnight so the ticks fall on whole minutes, hours and days
    // as the wall clock shows them.
    constexpr qint64 pasos_min[] = {1,   2,   5,   10,   15,   30,   60,   120,
                                    180, 360, 720, 1440, 2880, 4320, 10080};
    const qint64 desfase = QDateTime::fromMSecsSinceEpoch(desde_ms).offsetFromUtc() * 1000LL;
    const auto abajo = [&](qint64 t, qint64 paso) {
        const qint64 local = t + desfase;
        return local - ((local % paso) + paso) % paso - desfase;
    };
    EjeTiempo e;
    qint64 paso = 0;
    for (const qint64 p : pasos_min) {
        paso = p * 60'000;
        e.desde_ms = abajo(desde_ms, paso);
        e.hasta_ms = abajo(hasta_ms, paso);
        if (e.hasta_ms < hasta_ms)
            e.hasta_ms += paso;
        if (e.hasta_ms <= e.desde_ms)
            e.hasta_ms = e.desde_ms + paso;
        if ((e.hasta_ms - e.desde_ms) / paso < std::max(2, marcas_max))
            break;
    }
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
    // Empty lines shown only when they say something: their room goes to the
    // chart, which at 200 % needs it.
    aviso->hide();

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
    // Within the screen it opens on, whatever its scale; sized before the
    // first drawing, whose ticks are as many as the chart's width holds.
    const QRect pantalla = screen() ? screen()->availableGeometry() : QRect(0, 0, 760, 460);
    resize(std::min(760, pantalla.width() * 9 / 10), std::min(460, pantalla.height() * 9 / 10));
    capas->activate();
    grafico->installEventFilter(this);
    mostrarRango(rango_);
}

bool VentanaHistorial::eventFilter(QObject* o, QEvent* e) {
    if (o == grafico && e->type() == QEvent::Resize && marcas_dibujadas_ != 0 &&
        marcas_max(QStringLiteral("HH:mm")) != marcas_dibujadas_)
        dibujar();
    return QWidget::eventFilter(o, e);
}

int VentanaHistorial::marcas_max(const QString& formato) const {
    // The chart's labels are in the window's font. The plot leaves out the
    // value axis's labels and title and the chart's margins.
    const QFontMetrics fm(font());
    const int ancho =
        grafico->width() - fm.horizontalAdvance(QStringLiteral("-0000.0")) - 2 * fm.height() - 40;
    const QString muestra = QDateTime(QDate(2000, 12, 28), QTime(20, 58)).toString(formato);
    const int etiqueta = fm.horizontalAdvance(muestra) + fm.horizontalAdvance(QStringLiteral("MM"));
    return std::clamp(ancho / std::max(1, etiqueta) + 1, 2, 13);
}

EjeTiempo VentanaHistorial::eje_para(qint64 desde_ms, qint64 hasta_ms) const {
    EjeTiempo e = eje_de_tiempo(desde_ms, hasta_ms, marcas_max(QStringLiteral("HH:mm")));
    // Longer labels (the day too) leave room for fewer.
    const int cabe = marcas_max(e.formato);
    if (e.marcas > cabe)
        e = eje_de_tiempo(desde_ms, hasta_ms, cabe);
    return e;
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
    aviso->setVisible(!aviso->text().isEmpty());
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
    // A range the read-backs do not fill yet is fitted to them.
    const EjeTiempo eje = eje_para(inicio_ajustado(filas_, puestas, inicio, ahora), ahora);
    marcas_dibujadas_ = marcas_max(QStringLiteral("HH:mm"));
    const qint64 desde = eje.desde_ms;
    const qint64 hasta = eje.hasta_ms;
    Trazo t = trazar(filas_, desde, hasta, kCubos);
    for (const qint64 p : puestas)
        if (p >= desde && p <= hasta)
            t.correcciones.emplace_back(p, 0.0);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // Each piece its own band and line, so nothing is drawn across a gap;
    // the legend names the first.
    std::vector<QAbstractSeries*> bandas, lineas;
    if (t.tramos.empty())
        t.tramos.emplace_back();
    // A piece of one point draws no line: it gets a dot.
    QList<QPointF> solos;
    for (std::size_t k = 0; k < t.tramos.size(); ++k) {
        const bool ultimo = k + 1 == t.tramos.size();
        const auto parte = [](const auto& v, std::size_t de, std::size_t a) {
            return puntos({v.begin() + static_cast<std::ptrdiff_t>(de),
                           v.begin() + static_cast<std::ptrdiff_t>(a)});
        };
        const Trazo::Tramo& tr = t.tramos[k];
        const std::size_t fin_d = ultimo ? t.desvio.size() : t.tramos[k + 1].desvio;
        const std::size_t fin_c = ultimo ? t.cota_alta.size() : t.tramos[k + 1].cota;
        // The area does not own its edges: they are its children.
        auto* cota = new QAreaSeries;
        auto* alta = new QLineSeries(cota);
        auto* baja = new QLineSeries(cota);
        alta->replace(parte(t.cota_alta, tr.cota, fin_c));
        baja->replace(parte(t.cota_baja, tr.cota, fin_c));
        cota->setUpperSeries(alta);
        cota->setLowerSeries(baja);
        cota->setName(QStringLiteral("cota"));
        cota->setColor(QColor(120, 160, 230, 90));
        cota->setBorderColor(QColor(120, 160, 230, 90));
        auto* desvio = new QLineSeries;
        desvio->setName(QStringLiteral("desvío del reloj"));
        desvio->replace(parte(t.desvio, tr.desvio, fin_d));
        desvio->setColor(QColor(20, 60, 160));
        if (fin_d - tr.desvio == 1)
            solos.append(desvio->at(0));
        bandas.push_back(cota);
        lineas.push_back(desvio);
    }
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
    lecturas->replace(t.desvio.size() <= 120 ? puntos(t.desvio) : solos);
    auto* silencios = new QScatterSeries;
    silencios->setName(QStringLiteral("sin respuesta"));
    silencios->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    silencios->setMarkerSize(7);
    silencios->setColor(QColor(110, 110, 110));
    silencios->replace(puntos(t.silencios));
    // Bands under lines, marks on top.
    for (QAbstractSeries* s : bandas)
        chart->addSeries(s);
    for (QAbstractSeries* s : lineas)
        chart->addSeries(s);
    for (QAbstractSeries* s :
         std::initializer_list<QAbstractSeries*>{lecturas, correcciones, silencios})
        chart->addSeries(s);

    // The dots are the line's: one entry in the legend.
    for (QLegendMarker* m : chart->legend()->markers(lecturas))
        m->setVisible(false);
    for (std::size_t k = 1; k < bandas.size(); ++k)
        for (QAbstractSeries* s : {bandas[k], lineas[k]})
            for (QLegendMarker* m : chart->legend()->markers(s))
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
    fino->setVisible(!fino->text().isEmpty());

    const EstadoPc pc = fuentes_.estado_pc ? fuentes_.estado_pc() : EstadoPc{};
    if (!pc.conocido)
        estado_pc->setText(QStringLiteral("No se sabe si el PC está sincronizado"));
    else if (pc.sincronizado && pc.error_s)
        estado_pc->setText(
            QStringLiteral("El PC está sincronizado (error estimado %1 ms)")
                .arg(
                    QLocale(QLocale::Spanish, QLocale::Spain).toString(*pc.error_s * 1e3, 'f', 1)));
    else if (pc.sincronizado)
        estado_pc->setText(
            QStringLiteral("El PC está sincronizado (el sistema no da su error estimado)"));
    else
        estado_pc->setText(QStringLiteral("Aviso: el PC no está sincronizado; el reloj se pone "
                                          "en hora con un PC que puede estar desviado"));
}

} // namespace quarvel430
