#include "platform/fuente_hora.h"

#include <QTimerEvent>
#include <atomic>
#include <chrono>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, whose types it uses.
#include <timeapi.h>
#endif

namespace quarvel {

namespace {

using namespace std::chrono;

// Qt's timers wake to whole milliseconds and up to about one late: an exact
// call wakes this much early and waits the rest awake.
constexpr qint64 kAdelantoExactoUs = 2000;
// Longest wait awake; a call that wakes earlier than this waits asleep again.
constexpr qint64 kEsperaActivaMaximaUs = 5000;
// A call that wakes this much before its moment saw the PC's clock stepped
// back: it keeps the wait it was given, as window timers do.
constexpr qint64 kSaltoDeRelojUs = 1'000'000;

std::atomic<int> resoluciones{0};

qint64 piso_div(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && (a < 0) ? 1 : 0);
}

} // namespace

ResolucionFina::ResolucionFina() {
    ++resoluciones;
#ifdef Q_OS_WIN
    ::timeBeginPeriod(1);
#endif
}

ResolucionFina::~ResolucionFina() {
#ifdef Q_OS_WIN
    ::timeEndPeriod(1);
#endif
    --resoluciones;
}

int ResolucionFina::vigentes() {
    return resoluciones;
}

QDateTime FuenteHora::ahora() const {
    return QDateTime::fromMSecsSinceEpoch(piso_div(ahora_us(), 1000));
}

qint64 HoraDelSistema::ahora_us() const {
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

FuenteHora::Id HoraDelSistema::programar(qint64 cuando_us, Precision precision,
                                         std::function<void()> accion) {
    const Id id = ++siguiente_;
    tomar(precision);
    armar(Cita{id, cuando_us, precision, std::move(accion)});
    return id;
}

void HoraDelSistema::armar(Cita cita) {
    const qint64 adelanto = cita.precision == Precision::Exacta ? kAdelantoExactoUs : 0;
    const qint64 falta_us = cita.cuando_us - adelanto - ahora_us();
    // Rounded up: a call never wakes before its moment less the lead.
    const qint64 ms = falta_us <= 0 ? 0 : (falta_us + 999) / 1000;
    const int timer = startTimer(milliseconds(ms), Qt::PreciseTimer);
    citas_.emplace(timer, std::move(cita));
}

void HoraDelSistema::tomar(Precision precision) {
    if (precision == Precision::Exacta && exactas_++ == 0)
        fina_.emplace();
}

void HoraDelSistema::soltar(Precision precision) {
    if (precision == Precision::Exacta && --exactas_ == 0)
        fina_.reset();
}

void HoraDelSistema::cancelar(Id id) {
    for (auto it = citas_.begin(); it != citas_.end(); ++it) {
        if (it->second.id == id) {
            killTimer(it->first);
            soltar(it->second.precision);
            citas_.erase(it);
            return;
        }
    }
}

void HoraDelSistema::timerEvent(QTimerEvent* evento) {
    killTimer(evento->timerId());
    const auto it = citas_.find(evento->timerId());
    if (it == citas_.end())
        return;
    Cita cita = std::move(it->second);
    citas_.erase(it);
    const qint64 falta_us = cita.cuando_us - ahora_us();
    if (falta_us > kEsperaActivaMaximaUs && falta_us < kSaltoDeRelojUs) {
        armar(std::move(cita));
        return;
    }
    if (falta_us > 0 && falta_us <= kEsperaActivaMaximaUs) {
        const auto limite = steady_clock::now() + microseconds(kEsperaActivaMaximaUs);
        while (ahora_us() < cita.cuando_us && steady_clock::now() < limite) {
        }
    }
    cita.accion();
    // After the call: one it plans at once keeps the hold.
    soltar(cita.precision);
}

QString formato_hora(const QDateTime& t) {
    return t.time().toString(QStringLiteral("HH:mm:ss"));
}

QString formato_fecha(const QDateTime& t) {
    return t.date().toString(QStringLiteral("dd/MM/yyyy"));
}

} // namespace quarvel
