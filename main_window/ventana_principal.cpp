#include "main_window/ventana_principal.h"

#include "clock_link/plan_envio.h"
#include "clock_link/puerto_serie.h"
#include "platform/diario.h"
#include "platform/fallo.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "platform/numeros.h"
#include "platform/temporizador.h"
#include "settings/archivos_config.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>
#include <cmath>
#include <cstdio>

namespace quarvel {

namespace {

// How long a failure stays across the status bar.
constexpr int kAvisoMs = 8000;
// The status bar's height, in twips.
constexpr int kAltoBarra = 255;
// What the status bar keeps clear of its message, in pixels: Qt draws it 6
// from the left and 12 short of the right; 4 more for the font's overhang.
constexpr int kMargenMensajeBarra = 22;

} // namespace

VentanaPrincipal::VentanaPrincipal(Entorno entorno, const DisenoVentana& diseno, QWidget* parent)
    : QWidget(parent)
    , MSComm1(entorno.puerto)
    , entorno_(std::move(entorno))
    , enlace_(MSComm1, [this](const QString& descripcion) { informar_fallo(descripcion); }) {
    setObjectName(QStringLiteral("Form1"));
    fuente_de_ventana(this);
    setWindowTitle(diseno.titulo);
    setWindowIcon(icono_programa());
    resize(diseno.ancho / kTwipsPorPixel, diseno.alto / kTwipsPorPixel);
    disponer(diseno);
    // No exchange before start-up has given the port its settings.
    enlace_.habilitar(false);
    connect(MSComm1, &PuertoSerie::perdido, this,
            [this](const QString& descripcion) { enlace_.fallo(descripcion); });
    enlace_.alRecuperar(
        [] { diario(Prioridad::Info, QStringLiteral("el puerto responde de nuevo")); });
}

VentanaPrincipal::~VentanaPrincipal() = default;

void VentanaPrincipal::disponer(const DisenoVentana& d) {
    // In tab order: left to right, top to bottom.
    Text4 = campo(this, 1080, 60, 1035, 315);
    Label5 = etiqueta_de(this, Text4, QStringLiteral("Fecha Actual"), 60, 120, 945, 195);
    Text1 = campo(this, d.izq_hora, 60, 795, 315);
    Label1 = etiqueta_de(this, Text1, QStringLiteral("Hora Actual"), 2220, 120, 840, 195);
    Command1 = boton(this, QStringLiteral("Inicio"), 4080, 60, 915, 255);
    Label4 = etiqueta(this, QString(), 5100, 60, 915, 255);
    Text3 = campo(this, d.izq_ultimo, 540, 795, 315);
    Label2 = etiqueta_de(this, Text3, d.leyenda_ultimo, 60, 600, d.ancho_leyenda_ultimo, 195);
    Command2 = boton(this, QStringLiteral("Parar"), 4080, 480, 915, 255);
    Label6 = colocar(new QLabel(QStringLiteral("Fecha y Hora"), this), 5100, 360, 915, 435);
    Text2 = campo(this, d.izq_intervalo, 960, 375, 315);
    Label3 = etiqueta_de(this, Text2, QStringLiteral("Intervalo en Minutos"),
                         d.izq_leyenda_intervalo, 1020, 1440, 195);
    Command5 = boton(this, QStringLiteral("Configurar"), 4080, 900, 915, 255);
    Check1 = colocar(new QCheckBox(QStringLiteral("Cambiar"), this), 5100, 900, 915, 195);
    StatusBar1 = crear_barra_estado(this, Panels);
    colocar(StatusBar1, 0, d.alto - kAltoBarra, d.ancho, kAltoBarra);

    // "Inicio" waits for the first display tick; the interval is set in its
    // file, not here.
    Command1->setEnabled(false);
    Text2->setEnabled(false);
    fijar_colores(Label4, kNegro, Qt::white);
    Label4->setAlignment(Qt::AlignCenter);
    Label6->setWordWrap(true);
    fijar_colores(Label6, kNegro, kRojoClaro);
    Label6->setAlignment(Qt::AlignCenter);
}

Temporizador* VentanaPrincipal::temporizador(const QString& nombre, int intervalo, bool activo) {
    return new Temporizador(nombre, intervalo, activo, hora(), this);
}

namespace {

// A marker written wrong reads as a missing section: said so, rather than as
// a port 0, empty settings or a delay of 0.
Fallo falta(const QString& marca, const QString& que) {
    return Fallo(
        QStringLiteral("Falta la sección %1 en %2 (se busca esa marca exacta, "
                       "mayúsculas incluidas): escriba %1 en una línea y %3 en la "
                       "siguiente")
            .arg(marca,
                 QDir::toNativeSeparators(QFileInfo(kArchivoConfiguracion).absoluteFilePath()),
                 que));
}

} // namespace

void VentanaPrincipal::configurar_puerto(const configuracion_ini& c) {
    if (!c.com_port)
        throw falta(QStringLiteral("[COM_PORT]"), QStringLiteral("el número del puerto (1 a 255)"));
    if (!c.com_cfg)
        throw falta(QStringLiteral("[COM_CFG]"),
                    QStringLiteral("velocidad,paridad,datos,parada (por ejemplo 9600,N,8,1)"));
    // Each failure names its section and the file's full path.
    const QString ruta =
        QDir::toNativeSeparators(QFileInfo(kArchivoConfiguracion).absoluteFilePath());
    const auto en = [&ruta](const QString& seccion, const auto& paso) {
        try {
            paso();
        } catch (const Fallo& f) {
            throw Fallo(QStringLiteral("%1 (en %2 de %3)").arg(f.descripcion(), seccion, ruta));
        }
    };
    const QString seccion = QStringLiteral("[COM_PORT]");
    en(seccion,
       [&] { MSComm1->setCommPort(a_entero16(entero_estricto(c.com_port, seccion), seccion)); });
    en(QStringLiteral("[COM_CFG]"), [&] { MSComm1->setSettings(c.com_cfg.value_or(QString())); });
    Panels[1]->setText(QString::number(MSComm1->CommPort()));
    // The port took the settings, so they have their four fields.
    const config_com partes = separar_config_com(MSComm1->Settings());
    Panels[3]->setText(partes.baud);
    Panels[5]->setText(partes.parity);
    Panels[7]->setText(partes.data);
    Panels[9]->setText(partes.stop);
    enlace_.habilitar(true);
}

void VentanaPrincipal::fallo_de_inicio(const Fallo& f) {
    fallo_de_arranque_ = f.descripcion();
    entorno_.mensajes->mostrar(this, f.descripcion(), QStringLiteral("Inicio"));
}

void VentanaPrincipal::leer_intervalo_al_inicio() {
    const QFileInfo archivo(QStringLiteral("qv_int.ini"));
    // A dangling link is there too: what it points to is not ours to make.
    const bool habia = archivo.exists() || archivo.isSymLink();
    intervalo_guardable_ = !habia;
    Text2->setText(leer_intervalo());
    intervalo_guardable_ = true;
}

void VentanaPrincipal::fijar_retardo(Temporizador* t, const std::optional<QString>& valor,
                                     const QString& seccion) {
    if (!valor)
        throw falta(seccion, QStringLiteral("el retardo en milisegundos (por ejemplo 100)"));
    const long ms = entero_estricto(valor, seccion);
    if (ms < 0 || ms > Temporizador::kIntervaloMaximo)
        throw Fallo(QStringLiteral("El valor %1 de %2 en qv.ini no es válido: debe estar entre 0 "
                                   "y %3 milisegundos")
                        .arg(ms)
                        .arg(seccion)
                        .arg(Temporizador::kIntervaloMaximo));
    t->setInterval(ms);
}

std::optional<long> VentanaPrincipal::intervalo_valido() const {
    const double n = numero_de_texto(Text2->text());
    if (n < 1 || n != std::floor(n) || n > 1e6)
        return std::nullopt;
    return static_cast<long>(n);
}

QString VentanaPrincipal::intervalo_no_valido(const QString& consecuencia) const {
    return QStringLiteral("El intervalo \"%1\" de qv_int.ini no es un número entero de minutos "
                          "(1 o más): %2")
        .arg(recortado(Text2->text()), consecuencia);
}

void VentanaPrincipal::aviso_de_inicio(const QString& texto) {
    entorno_.mensajes->mostrar(this, texto, QStringLiteral("Inicio"));
}

bool VentanaPrincipal::guardar_al_cerrar() {
    if (descargado_)
        return false;
    descargado_ = true;
    // A file start-up refused (a device, a FIFO, one too large, unreadable)
    // is left as it is.
    if (!intervalo_guardable_)
        return true;
    try {
        guardar_intervalo(Text2->text());
    } catch (const Fallo& f) {
        // The window is going: say so; the old file stays as it was.
        if (sin_preguntar_)
            std::fprintf(stderr, "%s: %s\n", qPrintable(windowTitle()),
                         qPrintable(f.descripcion()));
        else
            entorno_.mensajes->mostrar(this, f.descripcion(), windowTitle());
    }
    return true;
}

void VentanaPrincipal::refrescar_pantalla() {
    const QDateTime ahora = hora().ahora();
    Text1->setText(formato_hora(ahora));
    Text4->setText(formato_fecha(ahora));
}

void VentanaPrincipal::indicador(bool encendido) {
    fijar_indicador(Label4, encendido);
}

void VentanaPrincipal::parpadear() {
    const QColor fondo = color_de_fondo(Label4);
    if (fondo == kRojoClaro)
        indicador(false);
    else if (fondo == kNegro)
        indicador(true);
}

void VentanaPrincipal::cambiar_modo() {
    if (const auto actual = modo_de_leyenda(Label6->text()))
        if (const auto nuevo = enlace_.cambiar_modo(*actual))
            Label6->setText(leyenda_de_modo(*nuevo));
    Check1->setChecked(Label6->text() == leyenda_de_modo(ModoPantalla::Hora));
}

ModoPantalla VentanaPrincipal::modo() const {
    return Check1->isChecked() ? ModoPantalla::Hora : ModoPantalla::FechaYHora;
}

void VentanaPrincipal::configurar() {
    if (entorno_.configurar)
        entorno_.configurar(this);
}

double VentanaPrincipal::us_por_byte() const {
    return quarvel::us_por_byte(MSComm1->linea());
}

void VentanaPrincipal::informar_fallo(const QString& descripcion) {
    diario(Prioridad::Error, descripcion);
    ultimo_fallo_ = descripcion;
    // Shortened to the bar's width with an ellipsis, never cut mid-word
    // unmarked; its tip shows it whole while it shows.
    const QFontMetrics fm(StatusBar1->font());
    StatusBar1->showMessage(
        fm.elidedText(descripcion, Qt::ElideRight, StatusBar1->width() - kMargenMensajeBarra),
        kAvisoMs);
    StatusBar1->setToolTip(descripcion);
    connect(StatusBar1, &QStatusBar::messageChanged, this, &VentanaPrincipal::mensajeCambiado,
            Qt::UniqueConnection);
}

void VentanaPrincipal::mensajeCambiado(const QString& texto) {
    if (texto.isEmpty())
        StatusBar1->setToolTip(QString());
}

void VentanaPrincipal::volver_a_mostrar() {
    showNormal();
    raise();
    activateWindow();
}

void VentanaPrincipal::cerrarSinPreguntar() {
    sin_preguntar_ = true;
    close();
}

void VentanaPrincipal::closeEvent(QCloseEvent* evento) {
    cerrando_ = true;
    Form_Unload();
    evento->accept();
    emit cerrada();
}

void VentanaPrincipal::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    // The status bar stays on the bottom edge, full width.
    if (StatusBar1 != nullptr)
        StatusBar1->setGeometry(0, height() - StatusBar1->height(), width(), StatusBar1->height());
    // A control below the bottom edge is out of sight: Tab must not reach
    // it (a Space there would press a button nobody sees) until the window
    // is enlarged enough to show it.
    static const char* const kFoco = "quarvel_foco";
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w == StatusBar1 || w->isHidden())
            continue;
        if (!w->property(kFoco).isValid())
            w->setProperty(kFoco, static_cast<int>(w->focusPolicy()));
        const bool se_ve =
            rect().contains(w->geometry()) &&
            (StatusBar1 == nullptr || !w->geometry().intersects(StatusBar1->geometry()));
        if (!se_ve && w->hasFocus())
            focusNextChild();
        w->setFocusPolicy(se_ve ? static_cast<Qt::FocusPolicy>(w->property(kFoco).toInt())
                                : Qt::NoFocus);
    }
}

} // namespace quarvel
