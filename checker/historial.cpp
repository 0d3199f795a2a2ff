#include "checker/historial.h"

#include "platform/fallo.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
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
            t.correcciones.emplace_back(f.t_ms, f.desvio_ms.value_or(0));
        }
        if (!f.desvio_ms)
            continue;
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

VentanaHistorial::VentanaHistorial(FuentesHistorial fuentes, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , fuentes_(std::move(fuentes)) {
    setWindowTitle(QStringLiteral("Historial"));
    resize(760, 460);
    auto* capas = new QVBoxLayout(this);

    auto* fila_rangos = new QHBoxLayout;
    rangos_ = new QButtonGroup(this);
    const std::pair<const char*, Rango> botones[] = {
        {"Día", Rango::Dia}, {"Semana", Rango::Semana}, {"Mes", Rango::Mes}};
    for (const auto& [texto, r] : botones) {
        auto* b = new QPushButton(QString::fromUtf8(texto), this);
        b->setCheckable(true);
        b->setChecked(r == rango_);
        rangos_->addButton(b, static_cast<int>(r));
        fila_rangos->addWidget(b);
    }
    auto* recargar_b = new QPushButton(QStringLiteral("Recargar"), this);
    fila_rangos->addStretch();
    fila_rangos->addWidget(recargar_b);
    capas->addLayout(fila_rangos);
    connect(rangos_, &QButtonGroup::idClicked, this,
            [this](int id) { mostrarRango(static_cast<Rango>(id)); });
    connect(recargar_b, &QPushButton::clicked, this, &VentanaHistorial::recargar);

    grafico = new QChartView(this);
    grafico->setRenderHint(QPainter::Antialiasing, false);
    capas->addWidget(grafico, 1);

    deriva = new QLabel(this);
    estado_pc = new QLabel(this);
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
    recargar();
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
    filas_ = fuentes_.filas ? fuentes_.filas() : std::vector<FilaHistorial>{};
    dibujar();
}

void VentanaHistorial::mostrarRango(Rango r) {
    rango_ = r;
    if (auto* b = rangos_->button(static_cast<int>(r)))
        b->setChecked(true);
    dibujar();
}

void VentanaHistorial::dibujar() {
    const qint64 hasta =
        fuentes_.ahora_ms ? fuentes_.ahora_ms() : QDateTime::currentMSecsSinceEpoch();
    const qint64 dias = rango_ == Rango::Dia ? 1 : rango_ == Rango::Semana ? 7 : 30;
    const qint64 desde = hasta - dias * kDiaMs;
    const Trazo t = trazar(filas_, desde, hasta, kCubos);

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
    auto* silencios = new QScatterSeries;
    silencios->setName(QStringLiteral("sin respuesta"));
    silencios->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    silencios->setMarkerSize(7);
    silencios->setColor(QColor(110, 110, 110));
    silencios->replace(puntos(t.silencios));
    for (QAbstractSeries* s :
         std::initializer_list<QAbstractSeries*>{cota, desvio, correcciones, silencios})
        chart->addSeries(s);

    auto* eje_t = new QDateTimeAxis;
    eje_t->setFormat(rango_ == Rango::Dia ? QStringLiteral("HH:mm") : QStringLiteral("dd/MM"));
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
        texto_deriva = frase_deriva(e.deriva, e.cota_deriva) + QStringLiteral("; ") +
                       resumen_de_registro(
                           Registro{ultimo->t_us, ultimo->resultado, e, ultimo->veredicto, {}, {}})
                           .section(QStringLiteral(", "), 0, 0);
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
