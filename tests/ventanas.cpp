#include "tests/ventanas.h"

#include "clock_link/codificacion.h"
#include "platform/temporizador.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>

std::unique_ptr<quarvel430::Form1> checker_quieto(quarvel::PuertoSerie& puerto,
                                                  quarvel::FuenteHora& hora,
                                                  quarvel::CajaMensajes& caja) {
    quarvel430::Entorno e;
    e.puerto = &puerto;
    e.hora = &hora;
    e.mensajes = &caja;
    e.notificar = [](std::uint32_t, const quarvel::NotifyIconData*) { return false; };
    e.hay_bandeja = [] { return false; };
    e.al_llegar_bandeja = nullptr;
    auto form = std::make_unique<quarvel430::Form1>(e);
    form->Form_Load();
    form->Timer1->setEnabled(false);
    form->Timer2->setEnabled(false);
    return form;
}

std::unique_ptr<quarvel38::Form1> sender_quieto(quarvel::PuertoSerie& puerto,
                                                quarvel::FuenteHora& hora,
                                                quarvel::CajaMensajes& caja) {
    auto form = std::make_unique<quarvel38::Form1>(quarvel::Entorno{&puerto, &hora, &caja, {}});
    form->Form_Load();
    form->Timer2->setEnabled(false);
    form->Timer2_Timer();
    return form;
}

void chequear(quarvel430::Form1& f, RelojVirtual& hora, const QDateTime& momento) {
    const QTime t = momento.time();
    hora.fijar(QDateTime(momento.date(), QTime(t.hour(), t.minute(), 31)));
    f.contador_reloj = 9;
    f.chequeador().chequear_en_el_31();
    f.Timer2_Timer();
    // The request waits for its moment inside the second.
    for (int ms = 0; ms < 1000 && f.chequeador().lectura_en_espera(); ++ms)
        hora.avanzar(1);
}

PruebaDeVentana::PruebaDeVentana() {
    CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
}

qint64 PruebaDeVentana::momento_de(const QByteArray& bytes) const {
    for (const auto& e : puerto.eventos)
        if (e.tipo == PuertoFalso::Tipo::Escribir && e.bytes.startsWith(bytes))
            return e.t_us;
    return -1;
}

QByteArray cadena_para(const QDateTime& t) {
    QByteArray r;
    const QDate d = t.date();
    const QTime h = t.time();
    for (const auto& [letra, valor] : {std::pair{'D', d.day()},
                                       {'M', d.month()},
                                       {'Y', d.year() % 100},
                                       {'H', h.hour()},
                                       {'m', h.minute()},
                                       {'S', h.second()}}) {
        r += letra;
        r += static_cast<char>(quarvel::bcd(valor));
    }
    return r + "CWCF";
}

bool esperar_activa(QWidget* w) {
    QDeadlineTimer limite(5000);
    while (!w->isActiveWindow() && !limite.hasExpired())
        esperar_eventos(10);
    return w->isActiveWindow();
}

void pulsar_tecla(QWidget* w, Qt::Key tecla) {
    QKeyEvent abajo(QEvent::KeyPress, tecla, Qt::NoModifier);
    QKeyEvent arriba(QEvent::KeyRelease, tecla, Qt::NoModifier);
    QApplication::sendEvent(w, &abajo);
    QApplication::sendEvent(w, &arriba);
}
