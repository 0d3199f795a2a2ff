#pragma once

#include "checker/form1.h"
#include "platform/gui/caja_mensajes.h"
#include "sender/form1.h"
#include "tests/apoyo.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

class CajaFalsa : public quarvel::CajaMensajes {
public:
    struct Mensaje {
        QString texto, titulo;
    };
    std::vector<Mensaje> mensajes;
    // What happens while the box is open (a modal box runs the event loop).
    std::function<void()> mientras;
    void mostrar(QWidget*, const QString& texto, const QString& titulo) override {
        mensajes.push_back({texto, titulo});
        if (mientras)
            mientras();
    }
};

// A loaded checker window with no tray and its own timers stopped, so the
// test drives every tick.
std::unique_ptr<quarvel430::Form1> checker_quieto(quarvel::PuertoSerie& puerto,
                                                  quarvel::FuenteHora& hora,
                                                  quarvel::CajaMensajes& caja);

// A loaded sender window showing the clock's time, its display tick stopped.
std::unique_ptr<quarvel38::Form1>
sender_quieto(quarvel::PuertoSerie& puerto, quarvel::FuenteHora& hora, quarvel::CajaMensajes& caja);

// The set of the clock for `t`, "C" "W" and the restore to date and time.
QByteArray cadena_para(const QDateTime& t);

// Starts a read-back as the scheduler does at second 31 of the minute that
// `momento` names; the virtual clock is set there, and moved on to the
// moment the request goes out.
void chequear(quarvel430::Form1& f, RelojVirtual& hora, const QDateTime& momento);

// Waits up to 5 s, running events, for `w` to be the active window.
bool esperar_activa(QWidget* w);
// A key pressed and released on `w`, as the keyboard delivers it.
void pulsar_tecla(QWidget* w, Qt::Key tecla);

// A window test: a fresh folder with good settings files, a clock the test
// moves, a fake port on it and a message box that records.
class PruebaDeVentana : public ::testing::Test {
protected:
    PruebaDeVentana();
    // When the first write that begins with `bytes` was made; -1 if none.
    qint64 momento_de(const QByteArray& bytes) const;
    // A byte's line time at 9600 baud, 10 bits, in microseconds.
    static constexpr double k9600 = 1e7 / 9600;

    CarpetaTemporal dir;
    RelojVirtual hora;
    PuertoFalso puerto{&hora};
    CajaFalsa caja;
};
