#include "sender/form1.h"

#include "clock_link/codificacion.h"
#include "clock_link/puerto_serie.h"
#include "main_window/barra_puerto.h"
#include "platform/fallo.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "platform/numeros.h"
#include "platform/temporizador.h"
#include "settings/archivos_config.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <tuple>

using namespace quarvel;

namespace quarvel38 {

namespace {

// How long a port failure stays across the status bar.
constexpr int kAvisoMs = 8000;

} // namespace

Form1::Form1(Entorno entorno, QWidget* parent)
    : QWidget(parent)
    , MSComm1(entorno.puerto)
    , entorno_(std::move(entorno))
    , enlace_(MSComm1, [this](const QString& descripcion) { informar_fallo(descripcion); }) {
    setObjectName(QStringLiteral("Form1"));
    fuente_de_ventana(this);
    setWindowTitle(QStringLiteral("Quarvel 3.8"));
    setWindowIcon(icono_programa());
    resize(6075 / kTwipsPorPixel, 1620 / kTwipsPorPixel);

    Label5 = etiqueta(this, QStringLiteral("Fecha Actual"), 60, 120, 945, 195);
    Text4 = campo(this, 1080, 60, 1035, 315);
    Label1 = etiqueta(this, QStringLiteral("Hora Actual"), 2220, 120, 840, 195);
    Text1 = campo(this, 3180, 60, 795, 315);
    Command1 = boton(this, QStringLiteral("Inicio"), 4080, 60, 915, 255);
    Command1->setEnabled(false);
    Label4 = etiqueta(this, QString(), 5100, 60, 915, 255);
    fijar_colores(Label4, kNegro, Qt::white);
    Label4->setAlignment(Qt::AlignCenter);
    Label2 = etiqueta(this, QStringLiteral("Ultima Dato Enviado"), 60, 600, 1455, 195);
    Text3 = campo(this, 1620, 540, 795, 315);
    Command2 = boton(this, QStringLiteral("Parar"), 4080, 480, 915, 255);
    Label6 = colocar(new QLabel(QStringLiteral("Fecha y Hora"), this), 5100, 360, 915, 435);
    Label6->setWordWrap(true);
    fijar_colores(Label6, kNegro, kRojoClaro);
    Label6->setAlignment(Qt::AlignCenter);
    Label3 = etiqueta(this, QStringLiteral("Intervalo en Minutos"), 60, 1020, 1440, 195);
    Text2 = campo(this, 1620, 960, 375, 315);
    Text2->setEnabled(false);
    Command5 = boton(this, QStringLiteral("Configurar"), 4080, 900, 915, 255);
    Check1 = colocar(new QCheckBox(QStringLiteral("Cambiar"), this), 5100, 900, 915, 195);
    StatusBar1 = crear_barra_estado(this, Panels);
    colocar(StatusBar1, 0, 1365, 6075, 255);

    // Below the client area: seen only when the user enlarges the window.
    Command4 = boton(this, QStringLiteral("Enviar"), 420, 3000, 915, 255);
    Command4->setEnabled(false);
    Command4->setVisible(false);
    Command3 = boton(this, QStringLiteral("Grabar"), 1500, 3000, 735, 255);
    Command3->setEnabled(false);
    Command3->setVisible(false);
    Command6 = boton(this, QStringLiteral("Cambiar"), 2340, 3000, 915, 255);
    Command6->setEnabled(false);
    Command6->setVisible(false);
    Command7 = boton(this, QStringLiteral("Command7"), 3360, 3000, 1095, 255);

    Timer1 = new Temporizador(QStringLiteral("Timer1"), 60000, false, this);
    Timer2 = new Temporizador(QStringLiteral("Timer2"), 1000, true, this);
    Timer2->alinearAlReloj(0);
    Timer3 = new Temporizador(QStringLiteral("Timer3"), 700, false, this);
    Timer4 = new Temporizador(QStringLiteral("Timer4"), 3, false, this);
    Timer5 = new Temporizador(QStringLiteral("Timer5"), 3, false, this);
    Timer6 = new Temporizador(QStringLiteral("Timer6"), 3, false, this);
    Timer7 = new Temporizador(QStringLiteral("Timer7"), 5, false, this);
    Timer8 = new Temporizador(QStringLiteral("Timer8"), 3, false, this);
    Timer9 = new Temporizador(QStringLiteral("Timer9"), 3, false, this);
    Timer10 = new Temporizador(QStringLiteral("Timer10"), 3, false, this);
    Timer11 = new Temporizador(QStringLiteral("Timer11"), 3, false, this);
    Timer12 = new Temporizador(QStringLiteral("Timer12"), 3, false, this);

    connect(Timer1, &Temporizador::Timer, this, &Form1::Timer1_Timer);
    connect(Timer2, &Temporizador::Timer, this, &Form1::Timer2_Timer);
    connect(Timer3, &Temporizador::Timer, this, &Form1::Timer3_Timer);
    connect(Timer4, &Temporizador::Timer, this, &Form1::Timer4_Timer);
    connect(Timer5, &Temporizador::Timer, this, &Form1::Timer5_Timer);
    connect(Timer6, &Temporizador::Timer, this, &Form1::Timer6_Timer);
    connect(Timer7, &Temporizador::Timer, this, &Form1::Timer7_Timer);
    connect(Timer8, &Temporizador::Timer, this, &Form1::Timer8_Timer);
    connect(Timer9, &Temporizador::Timer, this, &Form1::Timer9_Timer);
    connect(Timer10, &Temporizador::Timer, this, &Form1::Timer10_Timer);
    connect(Timer11, &Temporizador::Timer, this, &Form1::Timer11_Timer);
    connect(Timer12, &Temporizador::Timer, this, &Form1::Timer12_Timer);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(MSComm1, &PuertoSerie::perdido, this,
            [this](const QString& descripcion) { enlace_.fallo(descripcion); });
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    try {
        Text2->setText(leer_intervalo());
        const configuracion_ini c = leer_configuracion();
        const std::tuple<Temporizador*, const std::optional<QString>&, const char*> retardos[] = {
            {Timer4, c.t1, "[T1]"},  {Timer5, c.t2, "[T2]"},  {Timer6, c.t3, "[T3]"},
            {Timer7, c.t4, "[T4]"},  {Timer8, c.t5, "[T5]"},  {Timer9, c.t6, "[T6]"},
            {Timer10, c.t7, "[T7]"}, {Timer11, c.t7, "[T7]"}, {Timer12, c.t7, "[T7]"},
        };
        for (const auto& [timer, valor, nombre] : retardos)
            timer->setInterval(entero_estricto(valor, QString::fromLatin1(nombre)));
        const QString seccion = QStringLiteral("[COM_PORT]");
        MSComm1->setCommPort(a_entero16(entero_estricto(c.com_port, seccion), seccion));
        MSComm1->setSettings(c.com_cfg.value_or(QString()));
        llenar_barra_puerto(Panels, MSComm1->CommPort(), MSComm1->Settings());
        contador_minutos = 0;
    } catch (const Fallo& f) {
        entorno_.mensajes->mostrar(this, f.descripcion(), QStringLiteral("Inicio"));
    }
}

void Form1::Form_Unload() {
    if (descargado_)
        return;
    descargado_ = true;
    try {
        guardar_intervalo(Text2->text());
    } catch (const Fallo& f) {
        // The window is going: say so, the old file stays as it was.
        entorno_.mensajes->mostrar(this, f.descripcion(), QStringLiteral("Quarvel 3.8"));
    }
}

void Form1::closeEvent(QCloseEvent* evento) {
    Form_Unload();
    evento->accept();
}

void Form1::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    // The status bar stays on the bottom edge, full width.
    StatusBar1->setGeometry(0, height() - StatusBar1->height(), width(), StatusBar1->height());
}

// --- Port helpers ---------------------------------------------------------

void Form1::informar_fallo(const QString& descripcion) {
    ultimo_fallo_ = descripcion;
    StatusBar1->showMessage(descripcion, kAvisoMs);
}

void Form1::indicador(bool encendido) {
    fijar_indicador(Label4, encendido);
}

// --- Display and scheduler ------------------------------------------------

void Form1::Timer2_Timer() {
    if (!Command1->isEnabled())
        Command1->setEnabled(true);
    if (!Command4->isEnabled())
        Command4->setEnabled(true);
    // One reading for both fields, so at midnight the date matches the time.
    const QDateTime ahora = entorno_.hora->ahora();
    Text1->setText(formato_hora(ahora));
    Text4->setText(formato_fecha(ahora));
}

void Form1::Command1_Click() {
    Text3->setText(Text1->text());
    enlace_.reabrir();
    datos = cargar_datos_envio(Text4->text(), Text1->text(), Segundo::Siguiente);
    Timer4->setEnabled(true);
    Timer1->setEnabled(true);
    indicador(true);
    Timer3->setEnabled(true);
}

void Form1::Command2_Click() {
    Timer1->setEnabled(false);
    Timer3->setEnabled(false);
    indicador(false);
}

void Form1::Command3_Click() {
    Timer1->setEnabled(false);
    indicador(false);
    Timer3->setEnabled(false);
    contador_minutos = 0;
    Timer1->setEnabled(true);
    indicador(true);
    Timer3->setEnabled(true);
}

void Form1::Timer1_Timer() {
    contador_minutos = contador_minutos.value_or(0) + 1;
    if (numero_de_texto(Text2->text()) != static_cast<double>(*contador_minutos))
        return;
    contador_minutos = 0;
    Text3->setText(Text1->text());
    enlace_.reabrir();
    datos.segundos = segundos_de_envio(Text1->text(), Segundo::Siguiente);
    enlace_.escribir(QByteArray("S"));
    enlace_.escribir(QByteArray(1, byte_de_valor(datos.segundos)));
    Timer12->setEnabled(true);
}

void Form1::Timer3_Timer() {
    const QColor fondo = color_de_fondo(Label4);
    if (fondo == kRojoClaro)
        indicador(false);
    else if (fondo == kNegro)
        indicador(true);
}

// --- Transmission sequence ------------------------------------------------

void Form1::Command4_Click() {
    enlace_.reabrir();
    datos = cargar_datos_envio(Text4->text(), Text1->text(), Segundo::ComoSeLee);
    Timer4->setEnabled(true);
}

void Form1::paso(Temporizador* propio, char letra, const std::optional<int>& valor,
                 Temporizador* siguiente) {
    propio->setEnabled(false);
    enlace_.escribir(QByteArray(1, letra));
    enlace_.escribir(QByteArray(1, byte_de_valor(valor)));
    siguiente->setEnabled(true);
}

void Form1::Timer4_Timer() {
    paso(Timer4, 'D', datos.dia, Timer5);
}
void Form1::Timer5_Timer() {
    paso(Timer5, 'M', datos.mes, Timer6);
}
void Form1::Timer6_Timer() {
    paso(Timer6, 'Y', datos.anio, Timer7);
}
void Form1::Timer7_Timer() {
    paso(Timer7, 'H', datos.hora, Timer8);
}
void Form1::Timer8_Timer() {
    paso(Timer8, 'm', datos.minutos, Timer9);
}
void Form1::Timer9_Timer() {
    paso(Timer9, 'S', datos.segundos, Timer10);
}

void Form1::Timer10_Timer() {
    Timer10->setEnabled(false);
    enlace_.escribir(QByteArray("CW"));
    Timer11->setEnabled(true);
}

// --- Display mode and auxiliary buttons -----------------------------------

void Form1::cambiar_modo() {
    Label6->setText(enlace_.cambiar_modo(Label6->text()));
}

void Form1::Check1_Click() {
    cambiar_modo();
    // A switch that never reached the clock leaves the box as the label.
    Check1->setChecked(Label6->text() == QStringLiteral("Hora"));
}
void Form1::Command6_Click() {
    cambiar_modo();
}

void Form1::restaurar_modo(Temporizador* propio) {
    propio->setEnabled(false);
    enlace_.restaurar_modo(Check1->isChecked());
}

void Form1::Timer11_Timer() {
    restaurar_modo(Timer11);
}
void Form1::Timer12_Timer() {
    restaurar_modo(Timer12);
}

void Form1::Command7_Click() {
    contador_minutos = contador_minutos.value_or(0) + 1;
    if (numero_de_texto(Text2->text()) != static_cast<double>(*contador_minutos))
        return;
    contador_minutos = 0;
    Text3->setText(Text1->text());
    enlace_.reabrir();
    datos = cargar_datos_envio(Text4->text(), Text1->text(), Segundo::ComoSeLee);
    if (datos.completos())
        Timer4->setEnabled(true);
}

void Form1::Command5_Click() {
    if (entorno_.configurar)
        entorno_.configurar(this);
}

} // namespace quarvel38
