#include "checker/form1.h"

#include "checker/historial.h"
#include "clock_link/palabras.h"
#include "clock_link/puerto_serie.h"
#include "platform/diario.h"
#include "platform/fallo.h"
#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "settings/archivos_config.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstring>

using namespace quarvel;

namespace quarvel430 {

namespace {

// How long start-up waits for a tray that is not there yet: 10 s.
constexpr int kIntentosBandeja = 20;
const QString kTitulo = QStringLiteral("Quarvel 4.3");
// A row under the design's for the last read-back and "Historial".
const DisenoVentana kDiseno{kTitulo, 6090, 2040, 3120, 1740, QStringLiteral("Ultima Dato Chekeado"),
                            1605,    1740, 240};
const QString kEnLaBandeja =
    QStringLiteral("Su icono en la bandeja y «Restaurar» traen esta ventana; cerrarla termina "
                   "el programa");
const QString kAjustesNoValidos =
    QStringLiteral("Los ajustes no sirven: no se comprueba el reloj. Corríjalos y arranque de "
                   "nuevo.");
const QString kSinComprobar =
    QStringLiteral("Sin comprobar todavía: el reloj aún no ha contestado a una lectura");
const QString kSinActualizacion =
    QStringLiteral("El valor 0 de [T1] en qv.ini detiene la actualización: el reloj no se pone en "
                   "hora (se sigue chequeando)");

} // namespace

Form1::Form1(Entorno entorno, QWidget* parent)
    : VentanaPrincipal(entorno, kDiseno, parent)
    , notificar_(std::move(entorno.notificar))
    , hay_bandeja_(std::move(entorno.hay_bandeja))
    , al_llegar_bandeja_(std::move(entorno.al_llegar_bandeja))
    , con_ventana_(entorno.con_ventana)
    , estado_pc_(std::move(entorno.estado_pc))
    , metricas_(entorno.metricas) {
    BitacoraLecturas::Opciones opciones;
    opciones.carpeta_metricas = entorno.metricas;
    chequeador_ =
        new Chequeador({MSComm1, &enlace_, &hora(), estado_pc_, [this] { return modo(); }},
                       std::move(opciones), this);
    Timer1 = chequeador_->Timer1;
    Timer4 = chequeador_->Timer4;
    connect(chequeador_, &Chequeador::chequeo_iniciado, this,
            [this](const QDateTime& t) { Text3->setText(formato_hora(t)); });
    connect(chequeador_, &Chequeador::chequeado, this, &Form1::chequeado);
    connect(chequeador_, &Chequeador::fallo, this, &Form1::informar_fallo);

    Image1 = etiqueta(this, QString(), 2880, 840, 480, 480);
    pintar_icono();
    Image1->setToolTip(kSinComprobar);
    // Never shown.
    QWidget* ocultos = controles_ocultos(this);
    Label7 = etiqueta(ocultos, QStringLiteral("0"), 3420, 1800, 90, 195);
    Label8 = etiqueta(ocultos, QStringLiteral("0"), 3420, 2100, 90, 195);
    Command3 = boton(ocultos, QStringLiteral("Command3"), 4020, 1740, 1515, 375);
    Command3->setEnabled(false);
    menu = new QMenu(QStringLiteral("menu"), this);
    restaurar = menu->addAction(QStringLiteral("Restaurar"));
    historial = menu->addAction(QStringLiteral("Historial"));
    comprobar = menu->addAction(QStringLiteral("Comprobar ahora"));
    Label9 = etiqueta(this, QString(), 60, 1320, 3960, 420);
    // Two lines at most, each cut to the width: the whole text is its tooltip.
    Label9->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Command6 = boton(this, QStringLiteral("Historial"), 4080, 1380, 915, 255);

    temporizadores<Form1>({{"Timer2", 100, true, &Form1::Timer2, &Form1::Timer2_Timer}});
    // Ticks on the clock's tenths from the very next one: the tick on a whole
    // second refreshes the display right after the PC's second changes, the
    // first one within a second of start-up.
    Timer2->alinearAlReloj(Temporizador::PrimerTick::EnElProximoLimite);
    clics<Form1>({{Command1, &Form1::Command1_Click},
                  {Command2, &Form1::Command2_Click},
                  {Command5, &Form1::Command5_Click},
                  {Check1, &Form1::Check1_Click},
                  {Command6, &Form1::historial_Click}});
    connect(restaurar, &QAction::triggered, this, &Form1::restaurar_Click);
    connect(historial, &QAction::triggered, this, &Form1::historial_Click);
    connect(comprobar, &QAction::triggered, this, &Form1::chequear_pronto);
    connect(MSComm1, &PuertoSerie::OnComm, this, &Form1::MSComm1_OnComm);

    espera_bandeja_ = new QTimer(this);
    espera_bandeja_->setInterval(500);
    connect(espera_bandeja_, &QTimer::timeout, this, [this] { reintentar_bandeja(); });
    enlace_.alRecuperar([this] { recuperado(); });
    hwnd_ = registrar_ventana(this);
}

void Form1::recuperado() {
    diario(Prioridad::Info, QStringLiteral("el puerto responde de nuevo"));
    // The port works again: the tip stops showing the old failure.
    if (tip_con_aviso_ && icono_agregado_) {
        mostrar_en_bandeja(windowTitle(), QString());
        atencion_bandeja(hwnd_, icono_bandeja.uID, false);
    }
    tip_con_aviso_ = false;
    atencion_ = false;
    pintar_icono();
}

void Form1::pintar_icono() {
    const QIcon base = comprobado_ ? icono_programa() : icono_sin_comprobar(icono_programa());
    Image1->setPixmap((atencion_ ? icono_atencion(base) : base).pixmap(32, 32));
}

Form1::~Form1() {
    olvidar_ventana(hwnd_);
}

void Form1::Form_Load() {
    try {
        leer_intervalo_al_inicio();
        const configuracion_ini c = leer_configuracion();
        parpadeo_activo = false;
        contador_parpadeo = 0;
        contador_reloj = 0;
        fijar_retardo(Timer4, c.t1, QStringLiteral("[T1]"));
        configurar_puerto(c);
        refrescar_pantalla();
        parpadeo_activo = true;
        Text3->setText(Text1->text());
        indicador(true);

        // Checks at most once a minute, whatever the interval's line holds.
        const auto intervalo = intervalo_valido();
        chequeador_->configurar(intervalo.value_or(1));
        // Checking starts before any warning box: a box nobody answers must
        // not keep an unattended PC from setting its clock.
        chequeador_->arrancar(QDir::currentPath(),
                              QStringLiteral("COM%1").arg(MSComm1->CommPort()));
        if (!intervalo)
            aviso_de_inicio(intervalo_no_valido(QStringLiteral("se chequea el reloj cada minuto")));
        if (!chequeador_->puede_poner_en_hora())
            aviso_de_inicio(kSinActualizacion);
        BitacoraLecturas& bitacora = chequeador_->bitacora();
        try {
            bitacora.fijar_umbral(leer_umbral_fino());
        } catch (const Fallo& f) {
            bitacora.fijar_umbral(std::nullopt);
            aviso_de_inicio(f.descripcion());
        }
        mostrar_estado(kSinComprobar, QString());
        poner_icono();
        // What this instance works on, once, so a service's journal says it;
        // and, once, a PC whose sync state cannot be read (Windows tells no
        // program).
        const QFileInfo puerto(ruta_de_puerto(MSComm1->CommPort()));
        const bool pc_sin_estado = estado_pc_ && !estado_pc_().conocido;
        diario(
            Prioridad::Info,
            QStringLiteral("Quarvel430 %1 en %2: puerto COM%3 (%4), %5, chequeo cada %6 min%7%8")
                .arg(QCoreApplication::applicationVersion(),
                     QDir::toNativeSeparators(QDir::currentPath()))
                .arg(MSComm1->CommPort())
                .arg(puerto.isSymLink() ? QStringLiteral("→ ") + puerto.symLinkTarget()
                                        : puerto.filePath(),
                     MSComm1->Settings())
                .arg(chequeador_->intervalo())
                .arg(metricas_.isEmpty() ? QString() : QStringLiteral(", métricas en ") + metricas_,
                     pc_sin_estado ? QStringLiteral("; no se sabe si el PC está sincronizado")
                                   : QString()));
        chequeador_->bitacora().decir_lo_aprendido();
    } catch (const Fallo& f) {
        fallo_de_inicio(f);
        // Nothing is checked: said for as long as the program runs, in red,
        // in the window and on its icon in the tray, never hidden there.
        fallo_ajustes_ = f.descripcion();
        atencion_ = true;
        pintar_icono();
        QPalette rojo = Label9->palette();
        rojo.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
        Label9->setPalette(rojo);
        mostrar_estado(kAjustesNoValidos + QStringLiteral("\n") + fallo_ajustes_, fallo_ajustes_);
        Image1->setToolTip(kAjustesNoValidos + QStringLiteral(" ") + fallo_ajustes_);
        poner_icono();
    }
}

void Form1::poner_icono() {
    icono_bandeja = NotifyIconData{};
    icono_bandeja.cbSize = sizeof(NotifyIconData);
    icono_bandeja.hWnd = hwnd_;
    icono_bandeja.uID = 1;
    icono_bandeja.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icono_bandeja.uCallbackMessage = WM_MOUSEMOVE;
    icono_bien_ = registrar_icono(icono_programa());
    icono_sin_comprobar_ = registrar_icono(icono_sin_comprobar(icono_programa()));
    icono_bandeja.hIcon = icono_sin_comprobar_;
    fijar_tip(windowTitle());
    // Without a tray the window stays, so the user always has one; a
    // panel that comes up a little late still gets the icon.
    if (!reintentar_bandeja()) {
        espera_bandeja_->start();
        if (al_llegar_bandeja_)
            al_llegar_bandeja_(espera_bandeja_, [this] { reintentar_bandeja(); });
    }
}

bool Form1::reintentar_bandeja() {
    // Once in the tray, a panel that restarts neither adds a second icon nor
    // hides a window the user brought back.
    if (icono_agregado_)
        return true;
    if (hay_bandeja_())
        icono_agregado_ = notificar_(NIM_ADD, &icono_bandeja);
    if (!icono_agregado_) {
        if (++intentos_bandeja_ >= kIntentosBandeja)
            espera_bandeja_->stop();
        return false;
    }
    espera_bandeja_->stop();
    if (!fallo_ajustes_.isEmpty()) {
        // Settings that cannot work: the icon asks for attention, the
        // window stays.
        mostrar_en_bandeja(titulo_bandeja() + QStringLiteral(": ") + kAjustesNoValidos,
                           kAjustesNoValidos + QStringLiteral(" ") + fallo_ajustes_);
        atencion_bandeja(hwnd_, icono_bandeja.uID, true);
        return true;
    }
    detalle_bandeja(hwnd_, icono_bandeja.uID, kSinComprobar);
    if (con_ventana_) {
        // Until the first read-back, the line says where the window goes.
        mostrar_estado(kSinComprobar + QStringLiteral("\n") + kEnLaBandeja, QString());
        return true;
    }
    en_bandeja_ = true;
    hide();
    return true;
}

void Form1::fijar_tip(const QString& texto) {
    // The title, a NUL, then spaces up to 64 characters.
    const QByteArray bytes = texto.toLatin1().left(63);
    std::memset(icono_bandeja.szTip, ' ', sizeof icono_bandeja.szTip);
    std::memcpy(icono_bandeja.szTip, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    icono_bandeja.szTip[bytes.size()] = '\0';
}

void Form1::mostrar_en_bandeja(const QString& tip, const QString& detalle) {
    fijar_tip(tip);
    notificar_(NIM_MODIFY, &icono_bandeja);
    detalle_bandeja(hwnd_, icono_bandeja.uID, detalle);
}

void Form1::Form_Unload() {
    // No read-back while a box says the interval could not be saved.
    chequeador_->detener();
    if (!guardar_al_cerrar())
        return;
    espera_bandeja_->stop();
    notificar_(NIM_DELETE, &icono_bandeja);
    icono_agregado_ = false;
}

void Form1::mouseMoveEvent(QMouseEvent* evento) {
    const int boton = evento->buttons() == Qt::LeftButton ? 1 : 0;
    const QPoint p = evento->position().toPoint();
    Form_MouseMove(boton, 0, p.x(), p.y());
}

void Form1::mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) {
    // The icon reports with its number where the button state goes.
    if (mensaje == WM_MOUSEMOVE) {
        const QPoint p = mapFromGlobal(QCursor::pos());
        Form_MouseMove(static_cast<int>(id), 0, p.x(), p.y());
    }
}

void Form1::Form_MouseMove(int button, int /*shift*/, int /*x*/, int /*y*/) {
    if (button == 1)
        menu->popup(QCursor::pos());
}

void Form1::restaurar_Click() {
    setWindowState(Qt::WindowNoState);
    show();
    raise();
    activateWindow();
}

void Form1::historial_Click() {
    if (ventana_historial_ == nullptr) {
        FuentesHistorial fuentes;
        fuentes.ahora_ms = [this] { return hora().ahora_us() / 1000; };
        const BitacoraLecturas& bitacora = chequeador_->bitacora();
        fuentes.ultimo = [&bitacora] { return bitacora.ultimo(); };
        fuentes.estado_pc = estado_pc_;
        fuentes.umbral = [&bitacora] { return bitacora.umbral(); };
        fuentes.estado_fino = [&bitacora] { return bitacora.estado_fino(); };
        fuentes.puestas = [&bitacora] { return bitacora.puestas_ms(); };
        fuentes.fijar_umbral = [this](std::optional<int> u) { fijar_umbral_fino(u); };
        ventana_historial_ = new VentanaHistorial(std::move(fuentes), this);
    } else {
        ventana_historial_->recargar();
    }
    ventana_historial_->setWindowState(Qt::WindowNoState);
    ventana_historial_->show();
    ventana_historial_->raise();
    ventana_historial_->activateWindow();
}

void Form1::chequear_pronto() {
    chequeador_->pedir_lectura();
}

void Form1::iconoVisible(bool visible) {
    if (!visible && !isVisible() && !descargada())
        restaurar_Click();
}

QString Form1::titulo_bandeja() const {
    // Two checkers (two clocks) tell apart by their port.
    return kTitulo + QStringLiteral(" (COM%1)").arg(MSComm1->CommPort());
}

void Form1::estado_en_bandeja(const QString& detalle, bool atencion) {
    // How well it is kept, and a PC that is not synchronised, after it.
    const QString resumen = ultimo_registro() ? resumen_de_registro(*ultimo_registro()) : QString();
    const QString texto = resumen.isEmpty() ? detalle : detalle + QStringLiteral("; ") + resumen;
    Image1->setToolTip(texto);
    if (!icono_agregado_)
        return;
    mostrar_en_bandeja(titulo_bandeja() + QStringLiteral(": ") + texto, texto);
    tip_con_aviso_ = atencion;
    atencion_bandeja(hwnd_, icono_bandeja.uID, atencion);
}

void Form1::informar_fallo(const QString& descripcion) {
    VentanaPrincipal::informar_fallo(descripcion);
    atencion_ = true;
    pintar_icono();
    if (icono_agregado_) {
        atencion_bandeja(hwnd_, icono_bandeja.uID, true);
        // Hidden in the tray, the tip and a balloon are what the user sees:
        // the 64-byte tip cuts the text, the tooltip's body and the balloon
        // show it whole.
        mostrar_en_bandeja(titulo_bandeja() + QStringLiteral(": ") + descripcion, descripcion);
        tip_con_aviso_ = true;
        aviso_bandeja(hwnd_, icono_bandeja.uID, titulo_bandeja(), descripcion);
    }
}

void Form1::MSComm1_OnComm() {}

// --- Display and scheduler ------------------------------------------------

void Form1::Timer2_Timer() {
    refresco_del_reloj();
    chequeador_->tic(Timer2->desvio_us());
    parpadeo();
}

void Form1::refresco_del_reloj() {
    // A tick on a whole second is the refresh tick, even after a late tick
    // was skipped or the PC's clock stepped: the display stays on the second.
    if (Timer2->vencimiento_us() >= 0 && Timer2->vencimiento_us() % 1'000'000 == 0)
        contador_reloj = 9;
    if (++contador_reloj == 10) {
        contador_reloj = 0;
        if (!Command1->isEnabled())
            Command1->setEnabled(true);
        refrescar_pantalla();
    }
}

void Form1::iniciar_chequeo() {
    chequeador_->iniciar_chequeo();
}

void Form1::parpadeo() {
    if (++contador_parpadeo == 5) {
        contador_parpadeo = 0;
        if (parpadeo_activo)
            parpadear();
    }
}

void Form1::Timer1_Timer() {
    chequeador_->tras_la_espera();
}

void Form1::Timer4_Timer() {
    chequeador_->paso_de_actualizacion();
}

void Form1::Command1_Click() {
    Text3->setText(Text1->text());
    parpadeo_activo = true;
    chequeador_->inicio();
    indicador(true);
}

void Form1::Command2_Click() {
    chequeador_->parar();
    indicador(false);
    parpadeo_activo = false;
}

void Form1::Command5_Click() {
    configurar();
}

void Form1::Check1_Click() {
    cambiar_modo();
}

// --- Read-back ----------------------------------------------------------------

void Form1::chekeo_de_datos() {
    chequeador_->chequeo_de_datos();
}

void Form1::chequeado(const ChequeoHecho& h) {
    Label8->setText(QString::number(h.respuestas));
    const QString hora_chequeo = formato_hora(h.hora);
    mostrar_estado(resumen_breve(h.registro, hora_chequeo), resumen_de_registro(h.registro));
    if (ventana_historial_ != nullptr)
        ventana_historial_->recargar();
    // Green only once a reply agrees: a set, or a clock that did not answer,
    // is not yet known to be right.
    comprobado_ = h.completa && !h.equivocado;
    icono_bandeja.hIcon = comprobado_ ? icono_bien_ : icono_sin_comprobar_;
    // A clock seconds off in its minute is right by the comparison only.
    atencion_ = !h.completa || desviado(h.registro.estimacion);
    pintar_icono();
    if (!h.completa && !h.error_puerto)
        estado_en_bandeja(
            chequeador_->puede_poner_en_hora()
                ? QStringLiteral("el reloj no contesta (%1); se pone en hora de nuevo")
                      .arg(hora_chequeo)
                : QStringLiteral("el reloj no contesta (%1); no se puede poner en hora: [T1] "
                                 "es 0 en qv.ini")
                      .arg(hora_chequeo),
            true);
    else if (h.completa && h.equivocado)
        estado_en_bandeja(QStringLiteral("reloj corregido: marcaba %1 %2 a las %3")
                              .arg(h.fecha_reloj, h.hora_reloj, hora_chequeo),
                          false);
    else if (h.completa && h.afinar)
        estado_en_bandeja(
            QStringLiteral("reloj en hora, se afina (chequeado a las %1)").arg(hora_chequeo),
            false);
    else if (h.completa && desviado(h.registro.estimacion))
        estado_en_bandeja(QStringLiteral("reloj desviado un segundo o más (chequeado a las %1)")
                              .arg(hora_chequeo),
                          true);
    else if (h.completa)
        estado_en_bandeja(QStringLiteral("reloj en hora (chequeado a las %1)").arg(hora_chequeo),
                          false);
    Label7->setText(QString::number(h.lecturas));
}

void Form1::mostrar_estado(const QString& lineas, const QString& completo) {
    const QFontMetrics fm(Label9->font());
    QStringList partes = lineas.split(QLatin1Char('\n'));
    while (partes.size() > 2)
        partes.removeLast();
    for (QString& p : partes)
        p = fm.elidedText(p, Qt::ElideRight, Label9->width());
    Label9->setText(partes.join(QLatin1Char('\n')));
    const QString todo = QString(lineas).replace(QLatin1Char('\n'), QStringLiteral("; "));
    Label9->setToolTip(completo.isEmpty() || todo.contains(completo)
                           ? todo
                           : todo + QStringLiteral("\n") + completo);
}

void Form1::fijar_umbral_fino(std::optional<int> umbral_ms) {
    guardar_umbral_fino(umbral_ms);
    chequeador_->bitacora().fijar_umbral(umbral_ms);
}

} // namespace quarvel430
