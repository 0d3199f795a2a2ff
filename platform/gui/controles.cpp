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

QIcon icono_atencion(const QIcon& icono) {
    QIcon r;
    for (int lado : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap p = icono.pixmap(QSize(lado, lado));
        if (p.isNull())
            continue;
        // A red disc with a white bar in the lower right quarter.
        QPainter pintor(&p);
        pintor.setRenderHint(QPainter::Antialiasing);
        const qreal d = lado * 0.55;
        const QRectF disco(lado - d, lado - d, d, d);
        pintor.setPen(Qt::NoPen);
        pintor.setBrush(QColor(0xD0, 0x10, 0x10));
        pintor.drawEllipse(disco);
        pintor.setBrush(Qt::white);
        pintor.drawRect(
            QRectF(disco.center().x() - d * 0.09, disco.top() + d * 0.2, d * 0.18, d * 0.4));
        pintor.drawEllipse(
            QRectF(disco.center().x() - d * 0.09, disco.top() + d * 0.68, d * 0.18, d * 0.14));
        pintor.end();
        r.addPixmap(p);
    }
    return r;
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
