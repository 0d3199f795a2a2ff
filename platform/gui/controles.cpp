#include "platform/gui/controles.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <functional>
#include <limits>

// The icons live in this library's resources, which a static library must
// register itself.
static void cargar_iconos() {
    Q_INIT_RESOURCE(iconos);
}

namespace quarvel {

QLabel* etiqueta(QWidget* padre, const QString& texto, int izq, int arriba, int ancho, int alto) {
    auto* label = colocar(new QLabel(texto, padre), izq, arriba, ancho, alto);
    // A caption a little wider than its box shows whole rather than cut. It
    // grows to the left first, keeping clear of the field to its right.
    const int falta = label->sizeHint().width() - label->width();
    if (!label->wordWrap() && falta > 0) {
        const int izquierda = std::min(falta, label->x());
        label->setGeometry(label->x() - izquierda, label->y(), label->width() + falta,
                           label->height());
    }
    return label;
}

QLabel* etiqueta_de(QWidget* padre, QWidget* campo, const QString& texto, int izq, int arriba,
                    int ancho, int alto) {
    QLabel* label = etiqueta(padre, texto, izq, arriba, ancho, alto);
    // Screen readers name the field by its caption.
    label->setBuddy(campo);
    return label;
}

QWidget* controles_ocultos(QWidget* ventana) {
    auto* ocultos = new QWidget(ventana);
    ocultos->setObjectName(QStringLiteral("ocultos"));
    ocultos->setGeometry(0, 0, 10000, 10000);
    ocultos->hide();
    return ocultos;
}

QPushButton* boton(QWidget* padre, const QString& texto, int izq, int arriba, int ancho, int alto) {
    return colocar(new QPushButton(texto, padre), izq, arriba, ancho, alto);
}

QLineEdit* campo(QWidget* padre, int izq, int arriba, int ancho, int alto) {
    auto* c = colocar(new QLineEdit(padre), izq, arriba, ancho, alto);
    c->setTextMargins(0, 0, 0, 0);
    // A text read from a file comes back whole, however long.
    c->setMaxLength(std::numeric_limits<int>::max());
    return c;
}

void fuente_de_ventana(QWidget* ventana) {
    QFont f = ventana->font();
    f.setPixelSize(11);
    f.setStretch(QFont::SemiCondensed);
    ventana->setFont(f);
}

void fijar_colores(QLabel* label, const QColor& fondo, const QColor& texto) {
    QPalette p = label->palette();
    p.setColor(QPalette::Window, fondo);
    p.setColor(QPalette::WindowText, texto);
    label->setPalette(p);
    label->setAutoFillBackground(true);
}

QColor color_de_fondo(const QLabel* label) {
    return label->palette().color(QPalette::Window);
}

void fijar_indicador(QLabel* label, bool encendido) {
    fijar_colores(label, encendido ? kRojoClaro : kNegro, Qt::white);
    label->setText(encendido ? QStringLiteral("Enviando") : QString());
}

QIcon icono_programa() {
    static const bool cargados = (cargar_iconos(), true);
    Q_UNUSED(cargados)
    QIcon icono;
    // 16 and 32 pixels as drawn for the windows; the larger ones keep it
    // sharp on panels and screens that scale.
    for (int lado : {16, 32, 48, 64, 128, 256})
        icono.addFile(QStringLiteral(":/quarvel/quarvel-%1.png").arg(lado), QSize(lado, lado));
    return icono;
}

QString nombre_icono_programa() {
    return QStringLiteral("io.github.quarvel.Quarvel");
}

namespace {

// The icon with a disc over its lower right quarter (where its green mark
// is), the disc's own mark drawn by `marca` in its rectangle.
QIcon con_disco(const QIcon& icono, const QColor& color,
                const std::function<void(QPainter&, const QRectF&)>& marca) {
    QIcon r;
    for (int lado : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap p = icono.pixmap(QSize(lado, lado));
        if (p.isNull())
            continue;
        QPainter pintor(&p);
        pintor.setRenderHint(QPainter::Antialiasing);
        const qreal d = lado * 0.55;
        const QRectF disco(lado - d, lado - d, d, d);
        pintor.setPen(Qt::NoPen);
        pintor.setBrush(color);
        pintor.drawEllipse(disco);
        marca(pintor, disco);
        pintor.end();
        r.addPixmap(p);
    }
    return r;
}

} // namespace

QIcon icono_atencion(const QIcon& icono) {
    // A red disc with a white exclamation mark.
    return con_disco(icono, QColor(0xD0, 0x10, 0x10), [](QPainter& p, const QRectF& disco) {
        const qreal d = disco.width();
        p.setBrush(Qt::white);
        p.drawRect(QRectF(disco.center().x() - d * 0.09, disco.top() + d * 0.2, d * 0.18, d * 0.4));
        p.drawEllipse(
            QRectF(disco.center().x() - d * 0.09, disco.top() + d * 0.68, d * 0.18, d * 0.14));
    });
}

QIcon icono_sin_comprobar(const QIcon& icono) {
    // A grey disc with a white question mark: drawn, not a font's glyph, so
    // it looks the same on every desktop.
    return con_disco(icono, QColor(0x70, 0x70, 0x70), [](QPainter& p, const QRectF& disco) {
        const qreal d = disco.width();
        QPen pluma(Qt::white, d * 0.14, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pluma);
        p.setBrush(Qt::NoBrush);
        const QRectF arco(disco.center().x() - d * 0.17, disco.top() + d * 0.17, d * 0.34, d * 0.3);
        p.drawArc(arco, 180 * 16, -270 * 16);
        p.drawLine(QPointF(disco.center().x(), arco.bottom()),
                   QPointF(disco.center().x(), disco.top() + d * 0.6));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(
            QRectF(disco.center().x() - d * 0.08, disco.top() + d * 0.7, d * 0.16, d * 0.16));
    });
}

void centrar(QWidget* ventana) {
    if (const QScreen* pantalla = QGuiApplication::primaryScreen()) {
        QRect r = ventana->frameGeometry();
        r.moveCenter(pantalla->availableGeometry().center());
        ventana->move(r.topLeft());
    }
}

QStatusBar* crear_barra_estado(QWidget* padre, std::array<QLabel*, 10>& paneles) {
    static const int anchos[10] = {500, 500, 650, 900, 500, 400, 650, 500, 600, 500};
    static const char* fijos[10] = {"Port", "", "Baud", "", "Par.", "", "Data", "", "Stop", ""};
    auto* barra = new QStatusBar(padre);
    barra->setSizeGripEnabled(false);
    // Panels down to the window's bottom edge, no strip below them.
    barra->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < 10; ++i) {
        auto* panel = new QLabel(QString::fromLatin1(fijos[i]), barra);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // The panels share the bar's width by their design widths, which add
        // up to a little more than the window's: fixed, they would overlap.
        panel->setMinimumWidth(0);
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        // Normal (not permanent) widgets, so a port message can cover them for
        // a few seconds.
        barra->addWidget(panel, anchos[i]);
        paneles[static_cast<std::size_t>(i)] = panel;
    }
    return barra;
}

} // namespace quarvel
