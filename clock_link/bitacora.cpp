#include "clock_link/bitacora.h"

#include "clock_link/palabras.h"
#include "platform/archivos.h"
#include "platform/fallo.h"

#include <QDir>

namespace quarvel {

namespace {

constexpr qint64 kHoraUs = 3'600'000'000LL;
const QString kNoSePuede = QStringLiteral("no se puede poner en hora: [T1] es 0 en qv.ini");

} // namespace

QString texto_estado_fino(EstadoFino e) {
    switch (e) {
    case EstadoFino::Apagada:
        return QStringLiteral("apagada");
    case EstadoFino::Activa:
        return QStringLiteral("activa");
    case EstadoFino::PcSinSincronizar:
        return QStringLiteral("inactiva: el PC no está sincronizado");
    case EstadoFino::PcSinEstado:
        return QStringLiteral("inactiva: no se sabe si el PC está sincronizado");
    case EstadoFino::EstimacionNoValida:
        return QStringLiteral("inactiva: el desvío del reloj es desconocido");
    case EstadoFino::Limite:
        return QStringLiteral("en pausa: ya puso el reloj en hora %1 veces esta hora; el reloj "
                              "deriva más de lo que este umbral deja seguir")
            .arg(BitacoraLecturas::kFinasPorHora);
    }
    return {};
}

BitacoraLecturas::BitacoraLecturas(Opciones opciones)
    : opciones_(std::move(opciones)) {}

void BitacoraLecturas::fijar_limites(const LimitesEstimador& limites) {
    seguimiento_ = SeguimientoReloj(limites);
}

void BitacoraLecturas::inicio(qint64 ahora_us, const QString& carpeta, const QString& puerto,
                              const QString& linea) {
    clave_ = puerto + u' ' + linea;
    if (!opciones_.aprendido.isEmpty())
        cargar_aprendido(ahora_us);
    metricas_.carpeta = carpeta;
    metricas_.puerto = puerto;
    metricas_.inicio_s = ahora_us / 1'000'000;
    metricas_.ultima_respuesta_s = metricas_.inicio_s;
    escribir_metricas();
}

void BitacoraLecturas::decir_luego(Prioridad p, const QString& linea) {
    aprendido_por_decir_ = {p, linea};
}

void BitacoraLecturas::decir_lo_aprendido() {
    if (aprendido_por_decir_)
        opciones_.diario(aprendido_por_decir_->first, aprendido_por_decir_->second);
    aprendido_por_decir_.reset();
}

void BitacoraLecturas::cargar_aprendido(qint64 ahora_us) {
    const QString& nombre = opciones_.aprendido;
    if (!QFileInfo::exists(nombre)) {
        decir_luego(Prioridad::Info,
                    QStringLiteral("%1 no está: el reloj se aprende de cero").arg(nombre));
        return;
    }
    std::optional<Aprendido> a;
    try {
        bool recortado = false;
        a = leer_aprendido(leer_final_de_archivo(nombre, 4096, recortado));
        if (recortado)
            a.reset();
    } catch (const Fallo& f) {
        decir_luego(Prioridad::Aviso,
                    QStringLiteral("%1 no se pudo leer (%2): el reloj se aprende de cero")
                        .arg(nombre, f.descripcion()));
        return;
    }
    if (!a) {
        decir_luego(Prioridad::Aviso,
                    QStringLiteral("%1 no es válido: el reloj se aprende de cero").arg(nombre));
        return;
    }
    if (a->clave != clave_) {
        decir_luego(Prioridad::Info,
                    QStringLiteral("%1 es de otro puerto o línea (%2): el reloj se aprende "
                                   "de cero")
                        .arg(nombre, a->clave));
        return;
    }
    const qint64 ahora_s = ahora_us / 1'000'000;
    seguimiento_.sembrar(*a, ahora_s);
    const auto [d_lo, d_hi] = deriva_envejecida(*a, ahora_s);
    decir_luego(
        Prioridad::Info,
        QStringLiteral("se parte de lo aprendido del reloj hace %1 h (%2): deriva entre %3 y %4 "
                       "ppm, hasta que una lectura lo contradiga")
            .arg(QString::number(static_cast<double>(ahora_s - a->cuando_s) / 3600, 'f', 1), nombre,
                 QString::number(d_lo * 1e6, 'f', 1), QString::number(d_hi * 1e6, 'f', 1)));
}

void BitacoraLecturas::guardar_aprendido(qint64 t_us) {
    if (opciones_.aprendido.isEmpty() || clave_.isEmpty())
        return;
    const auto a = seguimiento_.aprendido(t_us, clave_);
    if (!a)
        return;
    try {
        reemplazar_sin_enlaces(opciones_.aprendido, texto_aprendido(*a));
        aprendido_fallando_ = false;
    } catch (const Fallo& f) {
        // Checking goes on; only a restart would start from nothing.
        if (!aprendido_fallando_)
            opciones_.diario(Prioridad::Aviso,
                             QStringLiteral("no se guarda lo aprendido del reloj (se sigue "
                                            "chequeando): %1")
                                 .arg(f.descripcion()));
        aprendido_fallando_ = true;
    }
}

void BitacoraLecturas::puesta(qint64 t_us, double desvio_s) {
    seguimiento_.puesta(t_us, desvio_s);
    if (puestas_ms_.size() >= 500)
        puestas_ms_.erase(puestas_ms_.begin());
    puestas_ms_.push_back(t_us / 1000);
}

EstadoFino BitacoraLecturas::estado_fino() const {
    if (!umbral_ms_)
        return EstadoFino::Apagada;
    if (ultimo_ && !ultimo_->pc_sincronizado)
        return EstadoFino::PcSinEstado;
    if (ultimo_ && !*ultimo_->pc_sincronizado)
        return EstadoFino::PcSinSincronizar;
    if (ultimo_ && !ultimo_->estimacion.valida)
        return EstadoFino::EstimacionNoValida;
    if (finas_.size() >= static_cast<std::size_t>(kFinasPorHora))
        return EstadoFino::Limite;
    return EstadoFino::Activa;
}

double BitacoraLecturas::desvio_de_correccion_fina_s() const {
    if (!ultimo_ || ultimo_->accion != Accion::CorreccionFina || !umbral_ms_)
        return 0;
    return desvio_tras_correccion_fina(ultimo_->estimacion, *umbral_ms_);
}

Registro BitacoraLecturas::lectura(const LecturaHecha& l, int intervalo_min) {
    decir_lo_aprendido();
    Registro r = seguimiento_.lectura(l.t_us, l.reloj, l.completa, l.error_puerto, l.equivocado,
                                      l.pc, l.escritura_us, l.llegada_us);
    if (!l.puede_poner_en_hora)
        r.accion = Accion::Ninguna;
    while (!finas_.empty() && finas_.front() <= l.t_us - kHoraUs)
        finas_.pop_front();
    // Only on what is surely known: a valid estimate no recent read has
    // contradicted, of a device with no record of false replies, from a
    // synchronised PC, a few times an hour at most.
    const bool pedida =
        l.puede_poner_en_hora && !l.equivocado && l.completa && umbral_ms_ && l.pc.conocido &&
        l.pc.sincronizado && r.estimacion.valida && seguimiento_.estimador().sin_antecedentes() &&
        seguimiento_.estimador().lecturas_sin_contradiccion() >= kLecturasLimpias &&
        seguimiento_.estable(kLecturasLimpias) &&
        corregir_fino(r.estimacion, *umbral_ms_, static_cast<double>(intervalo_min) * 60);
    const bool al_limite = finas_.size() >= static_cast<std::size_t>(kFinasPorHora);
    if (pedida && !al_limite) {
        r.accion = Accion::CorreccionFina;
        finas_.push_back(l.t_us);
        limite_dicho_ = false;
    } else if (pedida && !limite_dicho_) {
        opciones_.diario(Prioridad::Aviso,
                         QStringLiteral("corrección fina en pausa: ya puso el reloj en hora %1 "
                                        "veces en la última hora; el reloj deriva más de lo que "
                                        "un umbral de %2 ms deja seguir")
                             .arg(kFinasPorHora)
                             .arg(*umbral_ms_));
        limite_dicho_ = true;
    }
    ultimo_ = r;
    // The record first, then the metrics; the journal's line comes last, when
    // both are written.
    try {
        const QString aviso = anexar_historial(opciones_.historial, linea_historial(r));
        // Each fault once, until the history is written as it should again:
        // not every minute for ever.
        if (!aviso.isEmpty() && aviso != fallo_historial_ && opciones_.fallo)
            opciones_.fallo(aviso);
        if (aviso.isEmpty() && !fallo_historial_.isEmpty())
            opciones_.diario(
                Prioridad::Info,
                QStringLiteral("%1 se escribe de nuevo como debe").arg(opciones_.historial));
        fallo_historial_ = aviso;
    } catch (const Fallo& f) {
        if (f.descripcion() != fallo_historial_ && opciones_.fallo)
            opciones_.fallo(f.descripcion());
        fallo_historial_ = f.descripcion();
    }
    metricas_.ultimo = r;
    ++metricas_.lecturas;
    if (r.resultado == Resultado::SinRespuesta || r.resultado == Resultado::ErrorPuerto)
        ++metricas_.fallidas;
    else
        metricas_.ultima_respuesta_s = l.t_us / 1'000'000;
    if (r.accion != Accion::Ninguna)
        ++metricas_.correcciones;
    using V = EstimadorDesvio::Veredicto;
    if (r.veredicto == V::Contradiccion || r.veredicto == V::ModeloRoto || r.veredicto == V::Falsa)
        metricas_.contradicciones = seguimiento_.estimador().contradicciones();
    metricas_.puestas_no_tomadas = seguimiento_.ventana().puestas_no_tomadas();
    escribir_metricas();
    anotar(r, l);
    guardar_aprendido(l.t_us);
    return r;
}

void BitacoraLecturas::error_puerto() {
    ++metricas_.errores_puerto;
    escribir_metricas();
}

void BitacoraLecturas::escribir_metricas() {
    if (opciones_.carpeta_metricas.isEmpty())
        return;
    const QString nombre =
        QDir(opciones_.carpeta_metricas).filePath(nombre_metricas(metricas_.carpeta));
    try {
        reemplazar_sin_enlaces(nombre, texto_metricas(metricas_));
        if (metricas_fallando_)
            opciones_.diario(Prioridad::Info,
                             QStringLiteral("métricas escritas de nuevo en %1").arg(nombre));
        metricas_fallando_ = false;
    } catch (const Fallo& f) {
        // Checking goes on; the journal hears of it once, not every minute.
        if (!metricas_fallando_)
            opciones_.diario(Prioridad::Error,
                             QStringLiteral("no se escriben las métricas (se sigue chequeando): %1")
                                 .arg(f.descripcion()));
        metricas_fallando_ = true;
    }
}

void BitacoraLecturas::anotar(const Registro& r, const LecturaHecha& l) {
    using V = EstimadorDesvio::Veredicto;
    // A contradiction is said once, when the offset becomes unknown, and
    // again when it is known once more: not at every read-back between.
    if (!en_duda_ && (r.veredicto == V::Contradiccion || r.veredicto == V::ModeloRoto ||
                      r.veredicto == V::Falsa)) {
        opciones_.diario(
            Prioridad::Aviso,
            r.veredicto == V::ModeloRoto
                ? QStringLiteral("el reloj no se comporta como se supone (deriva, retardo o "
                                 "respuestas fuera de los límites): desvío desconocido; se "
                                 "amplían los límites y se aprende de nuevo (%1)")
                      .arg(l.hora)
                : QStringLiteral("la respuesta del reloj contradice lo sabido (%1): desvío "
                                 "desconocido hasta aclararlo")
                      .arg(l.hora));
        en_duda_ = true;
    } else if (en_duda_ && r.estimacion.valida) {
        opciones_.diario(Prioridad::Info,
                         r.veredicto == V::Golpe
                             ? QStringLiteral("el reloj había sido movido (%1): se sigue desde "
                                              "su nuevo desvío")
                                   .arg(l.hora)
                             : QStringLiteral("desvío conocido de nuevo (%1)").arg(l.hora));
        en_duda_ = false;
    }

    if (r.suceso == EstimadorVentana::Suceso::PuestaNoTomada)
        opciones_.diario(Prioridad::Aviso,
                         QStringLiteral("la puesta en hora no se tomó (%1): el reloj sigue con el "
                                        "desvío de antes")
                             .arg(l.hora));

    const QString resumen =
        resumen_de_registro(Registro{r.t_us, r.resultado, r.estimacion, r.veredicto, {}, {}});
    const QString y = resumen.isEmpty() ? QString() : QStringLiteral("; ") + resumen;
    switch (r.resultado) {
    case Resultado::Bien:
        if (r.accion == Accion::CorreccionFina)
            opciones_.diario(
                Prioridad::Info,
                QStringLiteral("corrección fina (%1): el desvío pasa de %2 ms, se pone en hora%3")
                    .arg(l.hora)
                    .arg(umbral_ms_.value_or(0))
                    .arg(y));
        else if (desviado(r.estimacion))
            // In its minute, so the designed comparison finds it right: said
            // as what it is, a warning once, until it is on time again.
            opciones_.diario(desviado_dicho_ ? Prioridad::Info : Prioridad::Aviso,
                             QStringLiteral("reloj desviado (%1)%2: la comparación por minutos "
                                            "lo da por bueno; lo pone en hora «Inicio» o la "
                                            "corrección fina de Historial")
                                 .arg(l.hora, y));
        else
            opciones_.diario(Prioridad::Info,
                             QStringLiteral("reloj en hora (%1)%2").arg(l.hora, y));
        if (r.accion != Accion::CorreccionFina)
            desviado_dicho_ = desviado(r.estimacion);
        break;
    case Resultado::Mal:
        if (!hora_valida(l.reloj)) {
            // Bytes that make no date and time are no reading of the clock.
            opciones_.diario(
                Prioridad::Aviso,
                QStringLiteral("respuesta del reloj no válida (%1): no es una fecha y hora; %2")
                    .arg(l.hora,
                         l.puede_poner_en_hora ? QStringLiteral("se pone en hora") : kNoSePuede));
            break;
        }
        opciones_.diario(
            Prioridad::Aviso,
            QStringLiteral("reloj equivocado (%1): marcaba %2 %3; %4")
                .arg(l.hora, texto_fecha_reloj(l.reloj), texto_hora_reloj(l.reloj),
                     l.puede_poner_en_hora ? QStringLiteral("se pone en hora") : kNoSePuede));
        break;
    case Resultado::SinRespuesta:
        opciones_.diario(Prioridad::Aviso,
                         QStringLiteral("el reloj no contesta (%1); %2")
                             .arg(l.hora, l.puede_poner_en_hora
                                              ? QStringLiteral("se pone en hora de nuevo")
                                              : kNoSePuede));
        break;
    case Resultado::ErrorPuerto:
        opciones_.diario(Prioridad::Aviso,
                         QStringLiteral("sin lectura (%1): el puerto falla").arg(l.hora));
        break;
    }
    // The PC's own clock: said when it changes, not at every read-back.
    if (l.pc.conocido && pc_sincronizado_ != l.pc.sincronizado) {
        opciones_.diario(l.pc.sincronizado ? Prioridad::Info : Prioridad::Aviso,
                         l.pc.sincronizado
                             ? QStringLiteral("el PC está sincronizado")
                             : QStringLiteral("el PC no está sincronizado: el reloj se pone en "
                                              "hora con un PC que puede estar desviado"));
        pc_sincronizado_ = l.pc.sincronizado;
    }
}

} // namespace quarvel
