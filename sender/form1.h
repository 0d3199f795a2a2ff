#pragma once

#include "clock_link/plan_envio.h"
#include "clock_link/transmision.h"
#include "main_window/ventana_principal.h"

#include <optional>
#include <vector>

namespace quarvel38 {

using quarvel::Entorno;

// The sender's main window, "Quarvel 3.8".
class Form1 : public quarvel::VentanaPrincipal {
    Q_OBJECT
public:
    explicit Form1(Entorno entorno, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load() override;
    void Form_Unload() override;

    // Display and scheduler.
    void Timer2_Timer();
    void Command1_Click(); // "Inicio"
    void Command2_Click(); // "Parar"
    void Command3_Click(); // "Grabar"
    void Timer1_Timer();
    void Timer3_Timer();

    // Transmission sequence.
    void Command4_Click(); // "Enviar"
    void Timer4_Timer();
    void Timer5_Timer();
    void Timer6_Timer();
    void Timer7_Timer();
    void Timer8_Timer();
    void Timer9_Timer();
    void Timer10_Timer();

    // Display mode and auxiliary buttons.
    void Check1_Click();
    void Command6_Click();
    void Timer11_Timer();
    void Timer12_Timer();
    void Command7_Click();
    void Command5_Click(); // "Configurar"

    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command6;
    QPushButton* Command7;

    quarvel::Temporizador* Timer1;
    quarvel::Temporizador* Timer2;
    quarvel::Temporizador* Timer3;
    quarvel::Temporizador* Timer4;
    quarvel::Temporizador* Timer5;
    quarvel::Temporizador* Timer6;
    quarvel::Temporizador* Timer7;
    quarvel::Temporizador* Timer8;
    quarvel::Temporizador* Timer9;
    quarvel::Temporizador* Timer10;
    quarvel::Temporizador* Timer11;
    quarvel::Temporizador* Timer12;

    // Sender state; an empty counter counts as 0.
    std::optional<long> contador_minutos;
    quarvel::DatosEnvio datos;

    // The last full set and seconds-only send planned.
    const quarvel::PlanDeEnvio& planCadena() const { return plan_cadena_; }
    const quarvel::PlanDeEnvio& planSegundos() const { return plan_segundos_; }

private:
    // One minute counted ("Inicio"'s minute tick, Command7); true, and the
    // count back to 0, when it reaches the interval.
    bool contar_minuto();
    // A full set: planned from now, the six values of its second loaded, and
    // Timer4 started at its moment; a chain under way gives way to it. With
    // `solo_completos`, nothing starts when a value has no encoding.
    void iniciar_cadena(bool solo_completos);
    bool cadena_en_curso() const;
    std::vector<quarvel::PasoDeCadena> pasos_de_cadena() const;
    void programar_segundos();
    void enviar_segundos();
    void cancelar_segundos();
    // False when the step was off its plan and the set started over.
    // Step `i` of the set, then the next timer from this one's moment.
    bool paso(quarvel::Temporizador* propio, std::size_t i, quarvel::Temporizador* siguiente);
    void restaurar_modo(quarvel::Temporizador* propio);

    quarvel::PlanDeEnvio plan_cadena_;
    quarvel::PlanDeEnvio plan_segundos_;
    std::optional<quarvel::FuenteHora::Id> cita_segundos_;
    // The interval read at start, in whole minutes; none re-sends nothing.
    std::optional<long> intervalo_;
};

} // namespace quarvel38
