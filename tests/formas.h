#pragma once

#include "checker/form1.h"
#include "platform/temporizador.h"

#include <memory>

// A loaded checker window with no tray and its own timers stopped, so the
// test drives every tick.
inline std::unique_ptr<quarvel430::Form1> checker_quieto(quarvel::PuertoSerie& puerto,
                                                         const quarvel::FuenteHora& hora,
                                                         quarvel::CajaMensajes& caja) {
    quarvel430::Entorno e;
    e.puerto = &puerto;
    e.hora = &hora;
    e.mensajes = &caja;
    e.notificar = [](std::uint32_t, const quarvel::NotifyIconData*) { return false; };
    e.hay_bandeja = [] { return false; };
    auto form = std::make_unique<quarvel430::Form1>(e);
    form->Form_Load();
    form->Timer1->setEnabled(false);
    form->Timer2->setEnabled(false);
    return form;
}
