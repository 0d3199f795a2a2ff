#include "clock_link/chequeador.h"

#include "clock_link/codificacion.h"
#include "clock_link/config_linea.h"
#include "clock_link/enlace_reloj.h"
#include "clock_link/puerto_serie.h"
#include "platform/archivos.h"
#include "platform/diario.h"
#include "platform/fallo.h"
#include "platform/temporizador.h"

#include <QCoreApplication>
#include <array>
#include <cmath>
#include <vector>

namespace quarvel {

namespace {

// The display ticks ten times a second.
constexpr double kTicksPorMinuto = 600;
// The update's six value steps, Timer4 apart; the sixth is the seconds.
constexpr std::size_t kPasosConValor = kPasosDeCadena.size();
const QString kSinActualizacion =
    QStringLiteral("El valor 0 de [T1] en qv.ini detiene la actualización: el reloj no se pone en "
                   "hora (se sigue chequeando)");

int segundo_local(qint64 t_us) {
    return QDateTime::fromMSecsSinceEpoch(t_us / 1000).time().second();
}

} // namespace

Chequeador::Chequeador(Entorno entorno, BitacoraLecturas::Opciones opciones, QObject* parent)
    : QObject(parent)
    , entorno_(std::move(entorno))
    , diario_(opciones.diario)
    , bitacora_([this, opciones]() mutable {
        // A file the bookkeeping cannot write is said like the others.
        opciones.fallo = [this](const QString& d) { emit fallo(d); };
        return opciones;
    }()) {
    Timer1 = new Temporizador(QStringLiteral("Timer1"), 1000, false, *entorno_.hora, this);
    Timer4 = new Temporizador(QStringLiteral("Timer4"), 100, false, *entorno_.hora, this);
    Timer4->setPrecision(FuenteHora::Precision::Exacta);
    connect(Timer1, &Temporizador::Timer, this, &Chequeador::tras_la_espera);
    connect(Timer4, &Temporizador::Timer, this, &Chequeador::paso_de_actualizacion);
    // Only the link's own failures count as the port's; a file that cannot
    // be written while the port fails is not one more.
    entorno_.enlace->alFallar([this] { bitacora_.error_puerto(); });
}

Chequeador::~Chequeador() {
    if (lectura_en_espera_)
        entorno_.hora->cancelar(cita_lectura_);
}

void Chequeador::configurar(long intervalo_min) {
    intervalo_ = intervalo_min;
    bitacora_.fijar_limites(limites_de_linea(entorno_.puerto->linea()));
}

void Chequeador::arrancar(const QString& carpeta, const QString& puerto) {
    paso_ = PasoActualizacion::Ninguno;
    ticks_ = 0;
    Timer1->setEnabled(true);
    estado_ = EstadoChequeo::Chequeando;
    const ConfigLinea l = entorno_.puerto->linea();
    bitacora_.inicio(entorno_.hora->ahora_us(), carpeta, puerto,
                     QStringLiteral("%1,%2,%3,%4")
                         .arg(l.baudios)
                         .arg(QChar::fromLatin1(l.paridad))
                         .arg(l.datos)
                         .arg(l.parada == 15 ? QStringLiteral("1.5") : QString::number(l.parada)));
}

void Chequeador::detener() {
    detenido_ = true;
    if (lectura_en_espera_)
        entorno_.hora->cancelar(cita_lectura_);
    lectura_en_espera_ = false;
}

bool Chequeador::puede_poner_en_hora() const {
    return Timer4->Interval() > 0;
}

bool Chequeador::actualizando() const {
    return Timer1->Enabled() || (Timer4->Enabled() && Timer4->Interval() > 0);
}

// --- The interval and second 31 ----------------------------------------------

void Chequeador::tic(qint64 desvio_us) {
    // The PC's clock stepped, or the program stalled: the clock is read
    // back at the next second 31, whatever the interval's count.
    if (std::abs(desvio_us) > kDesvioDeSaltoUs && estado_ == EstadoChequeo::Chequeando)
        pendiente_ = true;
    cuenta_del_intervalo();
    chequeo_debido();
}

void Chequeador::cuenta_del_intervalo() {
    ++ticks_;
    if (estado_ != EstadoChequeo::Chequeando)
        return;
    // Due once the count rounds to the interval's minutes: half a minute
    // early, then the next second 31 takes it.
    const double minutos = std::nearbyint(static_cast<double>(ticks_) / kTicksPorMinuto);
    if (minutos == static_cast<double>(intervalo_)) {
        ticks_ = 0;
        pendiente_ = true;
    }
}

void Chequeador::chequeo_debido() {
    // A read-back never starts inside another one, nor while an update is on
    // its way: the due check waits. One asked for need not wait for second
    // 31: any second far enough from a change of minute compares as well.
    // One asked for comes besides the one due at 31, never instead of it.
    if (en_chequeo_ || actualizando())
        return;
    const int segundo = segundo_local(entorno_.hora->ahora_us());
    const bool al_31 = pendiente_ && segundo == 31;
    const bool pedida = pedido_ && segundo >= 10 && segundo <= 50;
    if (al_31 || pedida) {
        if (al_31)
            pendiente_ = false;
        pedido_ = false;
        iniciar_chequeo();
    }
}

void Chequeador::pedir_lectura() {
    diario_(Prioridad::Info, QStringLiteral("lectura pedida"));
    pedido_ = true;
}

void Chequeador::inicio() {
    entorno_.enlace->iniciar_intercambio();
    paso_ = PasoActualizacion::Ninguno;
    estado_ = EstadoChequeo::Chequeando;
    // Counting starts over, so checking resumes however long "Parar" held.
    ticks_ = 0;
    retraso_fino_us_ = 0;
    iniciar_actualizacion();
}

// --- Read-back and comparison --------------------------------------------------

void Chequeador::parar() {
    Timer1->setEnabled(false);
    estado_ = EstadoChequeo::Parado;
}

void Chequeador::iniciar_chequeo() {
    hora_chequeo_ = entorno_.hora->ahora();
    emit chequeo_iniciado(hora_chequeo_);
    // The port is opened, locked and set before the moment is chosen: that
    // takes milliseconds, which must not push the request out of its second.
    abrir_para_leer();
    programar_lectura(entorno_.hora->ahora_us());
}

void Chequeador::abrir_para_leer() {
    PuertoSerie& puerto = *entorno_.puerto;
    if (puerto.PortOpen())
        puerto.setPortOpen(false);
    puerto.setInputLen(0);
    entorno_.enlace->reabrir();
    puerto_listo_ = true;
}

void Chequeador::programar_lectura(qint64 desde_us, bool cuanto_antes) {
    // Inside this second, at the moment that tells most of the offset; or at
    // its start, which leaves a late wake-up the whole second.
    const qint64 momento = cuanto_antes ? desde_us : bitacora_.momento_de_lectura(desde_us);
    fin_seguro_us_ = (desde_us / 1'000'000 + 1) * 1'000'000 - kMargenEscrituraUs;
    const qint64 ahora = entorno_.hora->ahora_us();
    if (momento <= ahora) {
        leer_a_su_hora();
        return;
    }
    en_chequeo_ = true;
    lectura_en_espera_ = true;
    cita_lectura_ = entorno_.hora->programar(momento, FuenteHora::Precision::Exacta, [this] {
        lectura_en_espera_ = false;
        en_chequeo_ = false;
        leer_a_su_hora();
    });
}

void Chequeador::leer_a_su_hora() {
    // An update started while the read waited ("Inicio"): no request goes
    // between its writes; the check comes at the next second 31.
    if (actualizando() || detenido_) {
        pendiente_ = true;
        return;
    }
    en_chequeo_ = true;
    chequeo_de_datos();
    // Still on while a request moved to the next second waits.
    en_chequeo_ = lectura_en_espera_;
}

template <class F> void Chequeador::guardar(F&& escritura) {
    try {
        escritura();
    } catch (const Fallo& f) {
        emit fallo(f.descripcion());
    }
}

void Chequeador::chequeo_de_datos() {
    PuertoSerie& puerto = *entorno_.puerto;
    EnlaceReloj& enlace = *entorno_.enlace;
    if (!puerto_listo_)
        abrir_para_leer();
    puerto_listo_ = false;
    // Looked at again just before writing: a request that would now start
    // too near its second's end (a stalled program, a slow open) goes in the
    // next second instead, at its start: a busy machine that wakes the
    // program as late again must not put the read off second after second.
    const qint64 momento = entorno_.hora->ahora_us();
    if (fin_seguro_us_ > 0 && momento > fin_seguro_us_) {
        fin_seguro_us_ = 0;
        puerto_listo_ = true;
        programar_lectura((momento / 1'000'000 + 1) * 1'000'000, true);
        return;
    }
    fin_seguro_us_ = 0;
    const QDateTime hora_chequeo = hora_chequeo_.isValid() ? hora_chequeo_ : entorno_.hora->ahora();
    hora_chequeo_ = QDateTime();
    enlace.escribir(kComandoLeer);
    const qint64 escritura = entorno_.hora->ahora_us() - momento;
    // Each pass lets pending events run once, so the program stays alive
    // through the bounded wait.
    const Respuesta respuesta = esperar_respuesta(puerto, us_por_byte(puerto.linea()), [this] {
        QCoreApplication::processEvents();
        return !detenido_;
    });
    // The wait ends as soon as the reply is whole: now bounds when the
    // device read its clock.
    const qint64 llegada = respuesta.completa ? entorno_.hora->ahora_us() : 0;
    if (detenido_)
        return; // The program is going: nothing more to check.

    // A scratch copy of the last reply, written where it stands (through a
    // link too).
    const QByteArray salida = respuesta.bytes + "\r\n";
    guardar([&] { escribir_en_su_sitio(QStringLiteral("salida.txt"), salida); });

    ChequeoHecho h;
    h.hora = hora_chequeo;
    h.completa = respuesta.completa;
    h.error_puerto = enlace.fallando();
    const LecturaReloj lectura = decodificar_salida(salida);
    h.fecha_reloj = texto_fecha_reloj(lectura);
    h.hora_reloj = texto_hora_reloj(lectura);
    const QString fecha_pc = formato_fecha(hora_chequeo);
    const QString hora_pc = formato_hora(hora_chequeo);
    h.equivocado = reloj_equivocado(h.fecha_reloj, h.hora_reloj, fecha_pc, hora_pc);

    LecturaHecha l;
    l.t_us = momento;
    l.escritura_us = escritura;
    l.llegada_us = llegada;
    l.reloj = lectura;
    l.completa = h.completa;
    l.error_puerto = h.error_puerto;
    l.equivocado = h.equivocado;
    l.pc = entorno_.estado_pc ? entorno_.estado_pc() : EstadoPc{};
    l.hora = hora_pc;
    l.puede_poner_en_hora = puede_poner_en_hora();
    h.registro = bitacora_.lectura(l, static_cast<int>(intervalo_));
    h.afinar = h.registro.accion == Accion::CorreccionFina;
    retraso_fino_us_ =
        h.afinar ? std::llround(-bitacora_.desvio_de_correccion_fina_s() * 1e6) : qint64{0};
    h.lecturas = ++lecturas_;
    h.respuestas = ++respuestas_;
    emit chequeado(h);

    if (h.equivocado) {
        estado_ = EstadoChequeo::Parado;
        guardar([&] {
            anexar_entero(QStringLiteral("sincro.txt"),
                          linea_sincro(h.fecha_reloj, fecha_pc, h.hora_reloj, hora_pc));
        });
        Timer1->setEnabled(true);
    } else if (h.afinar) {
        // Kept finer than the comparison asks: set again, in no mismatch log.
        estado_ = EstadoChequeo::Parado;
        Timer1->setEnabled(true);
    } else {
        estado_ = EstadoChequeo::Chequeando;
    }
}

// --- Complete update ------------------------------------------------------------

void Chequeador::tras_la_espera() {
    Timer1->setEnabled(false);
    entorno_.enlace->iniciar_intercambio();
    paso_ = PasoActualizacion::Ninguno;
    iniciar_actualizacion();
}

void Chequeador::iniciar_actualizacion() {
    // A spacing of 0 never ticks: the update cannot run, and checking goes on.
    if (!puede_poner_en_hora()) {
        emit fallo(kSinActualizacion);
        entorno_.enlace->abandonar();
        estado_ = EstadoChequeo::Chequeando;
        return;
    }
    const std::vector<PasoDeCadena> pasos(kPasosConValor, PasoDeCadena{Timer4->Interval(), 2});
    // The whole chain shifted: its seconds byte lands that much off the
    // second it carries (planned from later when it is to land early).
    const qint64 r = retraso_fino_us_;
    plan_ = planificar_envio(entorno_.hora->ahora_us() + std::max<qint64>(-r, 0), pasos,
                             kPasoSegundos, us_por_byte(entorno_.puerto->linea()));
    Timer4->activarDesde(plan_.inicio_us + r);
}

void Chequeador::paso_de_actualizacion() {
    // A value step off its plan (a stall, a step of the PC's clock) would
    // carry a second it does not land on: the update starts over.
    if (paso_ < PasoActualizacion::Segundos && fuera_de_plan(Timer4->desvio_us())) {
        paso_ = PasoActualizacion::Ninguno;
        iniciar_actualizacion();
        return;
    }
    paso_ = static_cast<PasoActualizacion>(static_cast<int>(paso_) + 1);
    actualizacion_completa(paso_);
    if (paso_ == PasoActualizacion::Restaurar)
        Timer4->setEnabled(false);
}

void Chequeador::actualizacion_completa(PasoActualizacion paso) {
    EnlaceReloj& enlace = *entorno_.enlace;
    if (paso >= PasoActualizacion::Dia && paso <= PasoActualizacion::Segundos) {
        // Every step sends the second the update was planned for: its
        // seconds byte lands on it.
        const auto i = static_cast<std::size_t>(paso) - 1;
        const QByteArray dato =
            eval_dato_salida(valor_de_campo(plan_.borde, kPasosDeCadena[i].campo));
        // A seconds byte that goes out late sets the clock that much behind.
        if (paso == PasoActualizacion::Segundos)
            retraso_segundos_us_ = Timer4->desvio_us() + retraso_fino_us_;
        enlace.escribir_paso(i, dato.at(0), true);
    } else if (paso == PasoActualizacion::Grabar) {
        enlace.escribir(kComandoGrabar);
        if (!enlace.fallando())
            diario_(Prioridad::Info,
                    QStringLiteral("puesta en hora enviada: %1")
                        .arg(plan_.borde.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))));
    } else if (paso == PasoActualizacion::Restaurar) {
        // Written whole: the clock holds the PC's time from its seconds on.
        bitacora_.puesta(plan_.borde_us, -static_cast<double>(retraso_segundos_us_) / 1e6);
        retraso_fino_us_ = 0;
        Timer4->setEnabled(false);
        enlace.restaurar_modo(entorno_.modo ? entorno_.modo() : ModoPantalla::FechaYHora);
        estado_ = EstadoChequeo::Chequeando;
    }
}

} // namespace quarvel
