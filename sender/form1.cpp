#include "sender/form1.h"

#include "clock_link/codificacion.h"
#include "clock_link/puerto_serie.h"
#include "platform/diario.h"
#include "platform/fallo.h"
#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "settings/archivos_config.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <tuple>

using namespace quarvel;

namespace quarvel38 {

namespace {

const DisenoVentana kDiseno{QStringLiteral("Quarvel 3.8"),         6075, 1620, 3180, 1620,
                            QStringLiteral("Ultima Dato Enviado"), 1455, 1620, 60};
const QString kCadenaDetenida =
    QStringLiteral("La puesta en hora se detiene antes de los segundos: un retardo de qv.ini "
                   "([T1] a [T6]) es 0");

} // namespace

Form1::Form1(Entorno entorno, QWidget* parent)
    : VentanaPrincipal(std::move(entorno), kDiseno, parent) {
    // Below the client area: seen only when the user enlarges the window,
    // and for three of them never.
    QWidget* ocultos = controles_ocultos(this);
    Command4 = boton(ocultos, QStringLiteral("Enviar"), 420, 3000, 915, 255);
    Command3 = boton(ocultos, QStringLiteral("Grabar"), 1500, 3000, 735, 255);
    Command6 = boton(ocultos, QStringLiteral("Cambiar"), 2340, 3000, 915, 255);
    Command7 = boton(this, QStringLiteral("Command7"), 3360, 3000, 1095, 255);
    for (QPushButton* b : {Command4, Command3, Command6})
        b->setEnabled(false);

    temporizadores<Form1>({
        {"Timer1", 60000, false, &Form1::Timer1, &Form1::Timer1_Timer},
        {"Timer2", 1000, true, &Form1::Timer2, &Form1::Timer2_Timer},
        {"Timer3", 700, false, &Form1::Timer3, &Form1::Timer3_Timer},
        {"Timer4", 3, false, &Form1::Timer4, &Form1::Timer4_Timer},
        {"Timer5", 3, false, &Form1::Timer5, &Form1::Timer5_Timer},
        {"Timer6", 3, false, &Form1::Timer6, &Form1::Timer6_Timer},
        {"Timer7", 5, false, &Form1::Timer7, &Form1::Timer7_Timer},
        {"Timer8", 3, false, &Form1::Timer8, &Form1::Timer8_Timer},
        {"Timer9", 3, false, &Form1::Timer9, &Form1::Timer9_Timer},
        {"Timer10", 3, false, &Form1::Timer10, &Form1::Timer10_Timer},
        {"Timer11", 3, false, &Form1::Timer11, &Form1::Timer11_Timer},
        {"Timer12", 3, false, &Form1::Timer12, &Form1::Timer12_Timer},
    });
    Timer2->alinearAlReloj(Temporizador::PrimerTick::TrasUnIntervalo);
    // The steps that set the clock write on their moment, not a little after.
    for (Temporizador* t : {Timer4, Timer5, Timer6, Timer7, Timer8, Timer9, Timer10})
        t->setPrecision(FuenteHora::Precision::Exacta);

    clics<Form1>({{Command1, &Form1::Command1_Click},
                  {Command2, &Form1::Command2_Click},
                  {Command3, &Form1::Command3_Click},
                  {Command4, &Form1::Command4_Click},
                  {Command5, &Form1::Command5_Click},
                  {Command6, &Form1::Command6_Click},
                  {Command7, &Form1::Command7_Click},
                  {Check1, &Form1::Check1_Click}});
}

Form1::~Form1() {
    cancelar_segundos();
}

void Form1::cancelar_segundos() {
    if (cita_segundos_)
        hora().cancelar(*cita_segundos_);
    cita_segundos_.reset();
}

void Form1::Form_Load() {
    try {
        leer_intervalo_al_inicio();
        const configuracion_ini c = leer_configuracion();
        const std::tuple<Temporizador*, const std::optional<QString>&, const char*> retardos[] = {
            {Timer4, c.t1, "[T1]"},  {Timer5, c.t2, "[T2]"},  {Timer6, c.t3, "[T3]"},
            {Timer7, c.t4, "[T4]"},  {Timer8, c.t5, "[T5]"},  {Timer9, c.t6, "[T6]"},
            {Timer10, c.t7, "[T7]"}, {Timer11, c.t7, "[T7]"}, {Timer12, c.t7, "[T7]"},
        };
        for (const auto& [timer, valor, nombre] : retardos)
            fijar_retardo(timer, valor, QString::fromLatin1(nombre));
        configurar_puerto(c);
        contador_minutos = 0;
        intervalo_ = intervalo_valido();
        if (!intervalo_)
            aviso_de_inicio(intervalo_no_valido(
                QStringLiteral("los segundos no se reenviaran cada pocos minutos")));
    } catch (const Fallo& f) {
        fallo_de_inicio(f);
    }
}

void Form1::Form_Unload() {
    guardar_al_cerrar();
}

// --- Display and scheduler ------------------------------------------------

void Form1::Timer2_Timer() {
    if (!Command1->isEnabled())
        Command1->setEnabled(true);
    if (!Command4->isEnabled())
        Command4->setEnabled(true);
    refrescar_pantalla();
}

void Form1::Command1_Click() {
    const QString enviado = Text3->text();
    Text3->setText(Text1->text());
    enlace_.iniciar_intercambio();
    // Nothing goes out on a port that did not open: the field keeps what was
    // last sent.
    if (enlace_.fallando())
        Text3->setText(enviado);
    iniciar_cadena(false);
    Timer1->setEnabled(true);
    indicador(true);
    Timer3->setEnabled(true);
}

void Form1::Command2_Click() {
    // A seconds send the last minute tick planned goes no more, and the port
    // that tick opened is closed. Nothing is written, unless a switch of mode
    // made meanwhile waits for the send's end.
    if (cita_segundos_) {
        cancelar_segundos();
        if (enlace_.cambio_pendiente())
            enlace_.restaurar_modo(modo());
        else
            enlace_.abandonar();
    }
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

bool Form1::contar_minuto() {
    contador_minutos = contador_minutos.value_or(0) + 1;
    // An interval that is no whole number of minutes never comes round.
    if (!intervalo_ || *intervalo_ != *contador_minutos)
        return false;
    contador_minutos = 0;
    return true;
}

void Form1::Timer1_Timer() {
    if (!contar_minuto())
        return;
    enlace_.iniciar_intercambio();
    if (Timer12->Interval() == 0)
        enlace_.soltar();
    programar_segundos();
}

void Form1::programar_segundos() {
    // "S" and its value go out when the value lands on a second, the one
    // they carry; Timer12 follows them.
    plan_segundos_ = planificar_segundos(hora().ahora_us(), us_por_byte());
    cancelar_segundos();
    cita_segundos_ = hora().programar(plan_segundos_.inicio_us, FuenteHora::Precision::Exacta,
                                      [this] { enviar_segundos(); });
}

void Form1::enviar_segundos() {
    cita_segundos_.reset();
    // A full set under way carries the seconds itself.
    if (cadena_en_curso())
        return;
    if (fuera_de_plan(hora().ahora_us() - plan_segundos_.inicio_us)) {
        programar_segundos();
        return;
    }
    datos.segundos = eval_dato_segundos(plan_segundos_.borde.time().second());
    enlace_.escribir_paso(kPasoSegundos, byte_de_valor(datos.segundos), false);
    if (!enlace_.fallando())
        diario(Prioridad::Info,
               QStringLiteral("segundos enviados: %1").arg(formato_hora(plan_segundos_.borde)));
    // What was sent: the second the value lands on; nothing, on a failing port.
    if (!enlace_.fallando())
        Text3->setText(formato_hora(plan_segundos_.borde));
    Timer12->setEnabled(true);
}

void Form1::Timer3_Timer() {
    parpadear();
}

// --- Transmission sequence ------------------------------------------------

void Form1::Command4_Click() {
    enlace_.iniciar_intercambio();
    iniciar_cadena(false);
}

std::vector<PasoDeCadena> Form1::pasos_de_cadena() const {
    std::vector<PasoDeCadena> pasos;
    for (const Temporizador* t : {Timer4, Timer5, Timer6, Timer7, Timer8, Timer9})
        pasos.push_back({t->Interval(), 2});
    return pasos;
}

bool Form1::cadena_en_curso() const {
    for (const Temporizador* t : {Timer4, Timer5, Timer6, Timer7, Timer8, Timer9, Timer10})
        if (t->Enabled() && t->Interval() > 0)
            return true;
    return false;
}

void Form1::iniciar_cadena(bool solo_completos) {
    // Two chains side by side would each carry a different second.
    for (Temporizador* t :
         {Timer4, Timer5, Timer6, Timer7, Timer8, Timer9, Timer10, Timer11, Timer12})
        t->setEnabled(false);
    cancelar_segundos();
    plan_cadena_ =
        planificar_envio(hora().ahora_us(), pasos_de_cadena(), kPasoSegundos, us_por_byte());
    datos = datos_de_envio(plan_cadena_.borde);
    if (!plan_cadena_.llega)
        informar_fallo(kCadenaDetenida);
    // A chain a delay of 0 stops never restores the mode.
    if (!plan_cadena_.llega || Timer10->Interval() == 0 || Timer11->Interval() == 0)
        enlace_.soltar();
    if (solo_completos && !datos.completos())
        return;
    Timer4->activarDesde(plan_cadena_.inicio_us);
}

bool Form1::paso(Temporizador* propio, std::size_t i, Temporizador* siguiente) {
    // Off its plan (a stall, a step of the PC's clock): the set would carry
    // a second it does not land on. It starts over, planned from now.
    if (fuera_de_plan(propio->desvio_us())) {
        iniciar_cadena(false);
        return false;
    }
    propio->setEnabled(false);
    enlace_.escribir_paso(i, byte_de_valor(datos.valor(kPasosDeCadena[i].campo)), false);
    siguiente->activarDesde(propio->vencimiento_us());
    return true;
}

void Form1::Timer4_Timer() {
    paso(Timer4, 0, Timer5);
}
void Form1::Timer5_Timer() {
    paso(Timer5, 1, Timer6);
}
void Form1::Timer6_Timer() {
    paso(Timer6, 2, Timer7);
}
void Form1::Timer7_Timer() {
    paso(Timer7, 3, Timer8);
}
void Form1::Timer8_Timer() {
    paso(Timer8, 4, Timer9);
}
void Form1::Timer9_Timer() {
    // What was sent: the second the value lands on.
    if (paso(Timer9, kPasoSegundos, Timer10) && !enlace_.fallando())
        Text3->setText(formato_hora(plan_cadena_.borde));
}

void Form1::Timer10_Timer() {
    Timer10->setEnabled(false);
    enlace_.escribir(kComandoGrabar);
    if (!enlace_.fallando())
        diario(Prioridad::Info,
               QStringLiteral("puesta en hora enviada: %1")
                   .arg(plan_cadena_.borde.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))));
    Timer11->activarDesde(Timer10->vencimiento_us());
}

// --- Display mode and auxiliary buttons -----------------------------------

void Form1::Check1_Click() {
    cambiar_modo();
}
void Form1::Command6_Click() {
    cambiar_modo();
}

void Form1::restaurar_modo(Temporizador* propio) {
    propio->setEnabled(false);
    enlace_.restaurar_modo(modo());
}

void Form1::Timer11_Timer() {
    restaurar_modo(Timer11);
}
void Form1::Timer12_Timer() {
    restaurar_modo(Timer12);
}

void Form1::Command7_Click() {
    if (!contar_minuto())
        return;
    const QString enviado = Text3->text();
    Text3->setText(Text1->text());
    enlace_.iniciar_intercambio();
    if (enlace_.fallando())
        Text3->setText(enviado);
    iniciar_cadena(true);
}

void Form1::Command5_Click() {
    configurar();
}

} // namespace quarvel38
