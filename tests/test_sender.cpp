#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "sender/form1.h"
#include "tests/apoyo.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <gtest/gtest.h>

using quarvel::Temporizador;
using quarvel38::Form1;
using Tipo = PuertoFalso::Tipo;

namespace {

class Sender : public ::testing::Test {
protected:
    void SetUp() override {
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
    }
    Form1& cargar() {
        quarvel38::Entorno e{&puerto, &hora, &caja, [this](QWidget*) { ++configuraciones; }};
        form = std::make_unique<Form1>(e);
        form->Form_Load();
        return *form;
    }
    QStringList paneles() const {
        QStringList r;
        for (QLabel* p : form->Panels)
            r << p->text();
        return r;
    }
    std::vector<int> intervalos() const {
        std::vector<int> r;
        for (Temporizador* t :
             {form->Timer4, form->Timer5, form->Timer6, form->Timer7, form->Timer8, form->Timer9,
              form->Timer10, form->Timer11, form->Timer12})
            r.push_back(t->Interval());
        return r;
    }

    struct Paso {
        QString timer;
        QByteArray bytes;
        bool operator==(const Paso&) const = default;
    };
    // Runs the step timers as the event loop would: whichever is enabled with
    // a non-zero interval ticks next.
    std::vector<Paso> correr_pasos() {
        Form1& f = *form;
        const std::pair<Temporizador*, void (Form1::*)()> pasos[] = {
            {f.Timer4, &Form1::Timer4_Timer},   {f.Timer5, &Form1::Timer5_Timer},
            {f.Timer6, &Form1::Timer6_Timer},   {f.Timer7, &Form1::Timer7_Timer},
            {f.Timer8, &Form1::Timer8_Timer},   {f.Timer9, &Form1::Timer9_Timer},
            {f.Timer10, &Form1::Timer10_Timer}, {f.Timer11, &Form1::Timer11_Timer},
            {f.Timer12, &Form1::Timer12_Timer},
        };
        std::vector<Paso> r;
        for (int vuelta = 0; vuelta < 30; ++vuelta) {
            bool alguno = false;
            for (const auto& [t, h] : pasos) {
                if (t->Enabled() && t->Interval() > 0) {
                    const QByteArray antes = puerto.escritos();
                    (f.*h)();
                    r.push_back({t->nombre(), puerto.escritos().mid(antes.size())});
                    alguno = true;
                    break;
                }
            }
            if (!alguno)
                break;
        }
        return r;
    }

    CarpetaTemporal dir;
    PuertoFalso puerto;
    HoraFija hora;
    CajaFalsa caja;
    int configuraciones = 0;
    std::unique_ptr<Form1> form;
};

} // namespace

TEST_F(Sender, StartUpWithGoodFiles) {
    Form1& f = cargar();
    EXPECT_EQ(f.windowTitle(), "Quarvel 3.8");
    EXPECT_EQ(f.Text2->text(), "5");
    EXPECT_FALSE(f.Text2->isEnabled());
    EXPECT_EQ(intervalos(), std::vector<int>(9, 100));
    EXPECT_EQ(paneles(),
              (QStringList{"Port", "1", "Baud", "9600", "Par.", "N", "Data", "8", "Stop", "1"}));
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_FALSE(puerto.PortOpen());
    EXPECT_EQ(puerto.cuenta(Tipo::Abrir), 0);
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_TRUE(f.Timer2->Enabled());
    for (Temporizador* t : {f.Timer1, f.Timer3, f.Timer4, f.Timer10, f.Timer11, f.Timer12})
        EXPECT_FALSE(t->Enabled()) << t->nombre().toStdString();
    EXPECT_FALSE(f.Command1->isEnabled());
    EXPECT_FALSE(f.Command4->isVisible() || f.Command4->isEnabled());
    EXPECT_TRUE(f.Command7->isEnabled());
    EXPECT_EQ(f.Label6->text(), "Fecha y Hora");
}

TEST_F(Sender, DelaysGoToTheirTimersAndSettingsToThePanels) {
    CarpetaTemporal::escribir(
        "qv.ini", qv_ini("12", "19200,E,7,1.5", {"10", "20", "30", "40", "50", "60", "70"}));
    cargar();
    EXPECT_EQ(intervalos(), (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 70, 70}));
    EXPECT_EQ(paneles()[1], "12");
    EXPECT_EQ(paneles()[3], "19200");
    EXPECT_EQ(paneles()[5], "E");
    EXPECT_EQ(paneles()[9], "5");
}

TEST_F(Sender, MissingIntervalFileStopsStartUpAndUnloadCreatesIt) {
    QFile::remove("qv_int.ini");
    Form1& f = cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Inicio");
    EXPECT_TRUE(caja.mensajes[0].texto.contains("qv_int.ini"));
    EXPECT_EQ(paneles()[1], "");
    EXPECT_EQ(paneles()[3], "");
    EXPECT_EQ(intervalos(), (std::vector<int>{3, 3, 3, 5, 3, 3, 3, 3, 3}));
    EXPECT_FALSE(f.contador_minutos.has_value());
    f.close();
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("\r\n"));
}

TEST_F(Sender, SettingsEndingInAMarkerSetsNothing) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"10", "10", "10"}) + "[T7]");
    cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(caja.mensajes[0].texto.contains("[T7]"));
    EXPECT_EQ(form->Text2->text(), "5");
    EXPECT_EQ(intervalos(), (std::vector<int>{3, 3, 3, 5, 3, 3, 3, 3, 3}));
    EXPECT_EQ(paneles()[1], "");
}

TEST_F(Sender, RefusedPortAndBadDelayStopAtTheirStep) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("0", "9600,N,8,1"));
    cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Inicio");
    EXPECT_TRUE(caja.mensajes[0].texto.contains("puerto"));
    EXPECT_EQ(intervalos(), std::vector<int>(9, 100));
    EXPECT_EQ(paneles()[1], "");

    caja.mensajes.clear();
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"10", "20", "30", "abc"}));
    cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(caja.mensajes[0].texto.contains("[T4]"));
    EXPECT_EQ(intervalos(), (std::vector<int>{10, 20, 30, 5, 3, 3, 3, 3, 3}));
    EXPECT_FALSE(form->contador_minutos.has_value());
}

TEST_F(Sender, DisplayTickFillsFieldsAndEnablesButtons) {
    Form1& f = cargar();
    EXPECT_TRUE(f.Text1->text().isEmpty());
    f.Timer2_Timer();
    EXPECT_EQ(f.Text1->text(), "19:33:43");
    EXPECT_EQ(f.Text4->text(), "05/12/2026");
    EXPECT_TRUE(f.Command1->isEnabled());
    EXPECT_TRUE(f.Command4->isEnabled());
}

TEST_F(Sender, EnviarSendsTheChainStepByStep) {
    Form1& f = cargar();
    f.Timer2_Timer();
    f.Command4_Click();
    EXPECT_EQ(puerto.cuenta(Tipo::Abrir), 1);
    const std::vector<Paso> esperado = {
        {"Timer4", QByteArray("D\x05", 2)},
        {"Timer5", QByteArray("M\x12", 2)},
        {"Timer6", QByteArray("Y\x26", 2)},
        {"Timer7", QByteArray("H\x19", 2)},
        {"Timer8", QByteArray("m\x33", 2)},
        {"Timer9", QByteArray("S\x43", 2)},
        {"Timer10", "CW"},
        {"Timer11", "CF"},
    };
    EXPECT_EQ(correr_pasos(), esperado);
    EXPECT_FALSE(puerto.PortOpen());
    // Letter and value leave as two writes.
    EXPECT_EQ(puerto.escrituras()[0], "D");
    EXPECT_EQ(puerto.escrituras()[1], QByteArray(1, '\x05'));

    // Ticked "Cambiar" restores the time-only mode.
    f.Check1->setChecked(true);
    f.Command4_Click();
    EXPECT_EQ(correr_pasos().back(), (Paso{"Timer11", "CH"}));
}

TEST_F(Sender, InicioAtSecond59SendsSecond59AndStartsPeriodicSending) {
    Form1& f = cargar();
    hora.fijar(5, 12, 2026, 14, 5, 59);
    f.Timer2_Timer();
    f.Command1_Click();
    EXPECT_EQ(f.Text3->text(), "14:05:59");
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_TRUE(f.Timer3->Enabled());
    EXPECT_EQ(f.Label4->text(), "Enviando");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kRojoClaro);
    const auto pasos = correr_pasos();
    ASSERT_EQ(pasos.size(), 8u);
    EXPECT_EQ(pasos[5].bytes, QByteArray("S\x59", 2));
    EXPECT_EQ(pasos[4].bytes, QByteArray("m\x05", 2));

    // "Enviar" sends the second as read.
    hora.fijar(5, 12, 2026, 14, 5, 58);
    f.Timer2_Timer();
    f.Command4_Click();
    EXPECT_EQ(correr_pasos()[5].bytes, QByteArray("S\x58", 2));
}

TEST_F(Sender, ZeroDelayStopsTheChainAtItsStep) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"100", "100", "0"}));
    Form1& f = cargar();
    f.Timer2_Timer();
    f.Command4_Click();
    const auto pasos = correr_pasos();
    ASSERT_EQ(pasos.size(), 2u);
    EXPECT_EQ(pasos[1].timer, "Timer5");
    EXPECT_TRUE(f.Timer6->Enabled());
    EXPECT_TRUE(puerto.PortOpen());
}

TEST_F(Sender, PeriodicSendCountsMinutesAcrossParar) {
    Form1& f = cargar();
    hora.fijar(5, 12, 2026, 10, 0, 20);
    f.Timer2_Timer();
    f.Command1_Click();
    correr_pasos();
    puerto.limpiar();
    for (int i = 0; i < 3; ++i)
        f.Timer1_Timer();
    EXPECT_TRUE(puerto.eventos.empty());
    f.Command2_Click();
    EXPECT_FALSE(f.Timer1->Enabled() || f.Timer3->Enabled());
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kNegro);
    EXPECT_EQ(f.contador_minutos, 3);

    f.Command1_Click();
    correr_pasos();
    puerto.limpiar();
    hora.fijar(5, 12, 2026, 10, 2, 59);
    f.Timer2_Timer();
    f.Timer1_Timer();
    EXPECT_TRUE(puerto.eventos.empty());
    f.Timer1_Timer();
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_EQ(f.Text3->text(), "10:02:59");
    // Reopened, then "S" and the capped second as two writes, then the
    // restore one [T7] later.
    ASSERT_EQ(puerto.eventos.size(), 3u);
    EXPECT_EQ(puerto.eventos[0].tipo, Tipo::Abrir);
    EXPECT_EQ(puerto.escrituras(), (std::vector<QByteArray>{"S", "\x59"}));
    EXPECT_TRUE(f.Timer12->Enabled());
    EXPECT_EQ(correr_pasos(), (std::vector<Paso>{{"Timer12", "CF"}}));
    EXPECT_FALSE(puerto.PortOpen());
}

TEST_F(Sender, BlinkAlternatesTheTwoLooks) {
    Form1& f = cargar();
    f.Command1_Click();
    f.Timer3_Timer();
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kNegro);
    f.Timer3_Timer();
    EXPECT_EQ(f.Label4->text(), "Enviando");
    // "Grabar" restarts the count and keeps sending on.
    f.contador_minutos = 4;
    f.Command3_Click();
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_TRUE(f.Timer1->Enabled());
}

TEST_F(Sender, Command7CountsAndSendsTheWholeDateWhenDue) {
    CarpetaTemporal::escribir("qv_int.ini", "3\r\n");
    Form1& f = cargar();
    f.Timer2_Timer();
    f.Command7_Click();
    f.Command7_Click();
    EXPECT_TRUE(puerto.eventos.empty());
    EXPECT_EQ(f.contador_minutos, 2);
    f.Command7_Click();
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_EQ(f.Text3->text(), "19:33:43");
    const auto pasos = correr_pasos();
    ASSERT_EQ(pasos.size(), 8u);
    EXPECT_EQ(pasos[5].bytes, QByteArray("S\x43", 2));

    // A date that cannot be encoded: counter reset, port open, nothing sent.
    hora.fijar(5, 12, 2061, 1, 2, 3);
    f.Timer2_Timer();
    puerto.limpiar();
    for (int i = 0; i < 3; ++i)
        f.Command7_Click();
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_TRUE(puerto.PortOpen());
    EXPECT_FALSE(f.Timer4->Enabled());
    EXPECT_TRUE(puerto.escritos().isEmpty());
}

TEST_F(Sender, CambiarTwiceSwitchesTheClockDisplay) {
    Form1& f = cargar();
    f.Check1->click();
    EXPECT_TRUE(f.Check1->isChecked());
    EXPECT_EQ(f.Label6->text(), "Hora");
    EXPECT_EQ(puerto.escritos(), "CH");
    EXPECT_FALSE(puerto.PortOpen());
    f.Check1->click();
    EXPECT_FALSE(f.Check1->isChecked());
    EXPECT_EQ(f.Label6->text(), "Fecha y Hora");
    EXPECT_EQ(puerto.escritos(), "CHCF");
    EXPECT_EQ(puerto.cuenta(Tipo::Abrir), 2);
    EXPECT_EQ(puerto.cuenta(Tipo::Cerrar), 2);
    f.Command5_Click();
    EXPECT_EQ(configuraciones, 1);
}

TEST_F(Sender, CambiarThatCannotReachTheClockChangesNothing) {
    Form1& f = cargar();
    puerto.fallo_apertura = QStringLiteral("No existe el puerto COM1");
    f.Check1->click();
    EXPECT_EQ(f.Label6->text(), "Fecha y Hora");
    EXPECT_FALSE(f.Check1->isChecked());
    EXPECT_EQ(f.ultimoFalloPuerto(), puerto.fallo_apertura);
}

TEST_F(Sender, PortThatCannotOpenIsReportedOnceAndRetried) {
    Form1& f = cargar();
    f.Timer2_Timer();
    puerto.fallo_apertura = QStringLiteral("No existe el puerto COM1 (/dev/ttyS0)");
    f.Command1_Click();
    correr_pasos();
    EXPECT_TRUE(caja.mensajes.empty()) << "no modal box";
    EXPECT_EQ(f.StatusBar1->currentMessage(), puerto.fallo_apertura);
    EXPECT_EQ(f.ultimoFalloPuerto(), puerto.fallo_apertura);
    EXPECT_TRUE(puerto.escritos().isEmpty());
    EXPECT_TRUE(f.Timer1->Enabled()) << "periodic sending goes on";

    puerto.fallo_apertura.clear();
    f.StatusBar1->clearMessage();
    f.Command4_Click();
    EXPECT_EQ(correr_pasos().size(), 8u);
    EXPECT_EQ(puerto.escritos().size(), 16);
    EXPECT_TRUE(f.StatusBar1->currentMessage().isEmpty());
}

TEST_F(Sender, ChainRunsOnTheRealTimers) {
    CarpetaTemporal::escribir("qv.ini",
                              qv_ini("1", "9600,N,8,1", {"5", "5", "5", "5", "5", "5", "5"}));
    Form1& f = cargar();
    f.Timer2_Timer();
    f.Command4_Click();
    esperar_eventos(600);
    EXPECT_EQ(puerto.escritos(), QByteArray("D\x05M\x12Y\x26H\x19m\x33S\x43"
                                            "CWCF",
                                            16));
    EXPECT_FALSE(puerto.PortOpen());
}

TEST_F(Sender, UnloadWritesTheIntervalFieldBack) {
    CarpetaTemporal::escribir("qv_int.ini", "  5 min\r\nmore\r\n");
    Form1& f = cargar();
    f.close();
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("  5 min\r\n"));
}
