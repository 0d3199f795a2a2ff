#include "clock_link/codificacion.h"
#include "platform/diario.h"
#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "tests/ventanas.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <gtest/gtest.h>
#include <map>

using quarvel::Temporizador;
using quarvel38::Form1;
using Tipo = PuertoFalso::Tipo;

namespace {

class Sender : public PruebaDeVentana {
protected:
    Form1& cargar() {
        form = std::make_unique<Form1>(
            quarvel::Entorno{&puerto, &hora, &caja, [this](QWidget*) { ++configuraciones; }});
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
    EXPECT_FALSE(f.Command4->isVisible() || f.Command4->isEnabled());
    EXPECT_TRUE(f.Command7->isEnabled());
    EXPECT_EQ(f.Label6->text(), "Fecha y Hora");

    // The first display tick comes on the first whole second at least a
    // second away, fills the fields and enables the buttons.
    EXPECT_FALSE(f.Command1->isEnabled());
    hora.avanzar(999);
    EXPECT_TRUE(f.Text1->text().isEmpty());
    hora.avanzar(1);
    EXPECT_EQ(f.Text1->text(), "19:33:44");
    EXPECT_EQ(f.Text4->text(), "05/12/2026");
    EXPECT_TRUE(f.Command1->isEnabled() && f.Command4->isEnabled());
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

TEST_F(Sender, AStartUpFailureStopsAtItsStep) {
    const std::vector<int> iniciales{3, 3, 3, 5, 3, 3, 3, 3, 3};
    struct Caso {
        QByteArray qv_int, qv;
        const char* dice;
        std::vector<int> intervalos;
        const char* panel_puerto;
    };
    const Caso casos[] = {
        {{}, qv_ini("1", "9600,N,8,1"), "qv_int.ini", iniciales, ""},
        {"5\r\n", qv_ini("1", "9600,N,8,1", {"10", "10", "10"}) + "[T7]", "[T7]", iniciales, ""},
        {"5\r\n", qv_ini("0", "9600,N,8,1"), "puerto", std::vector<int>(9, 100), ""},
        // A marker written wrong is a missing section, not a port 0.
        {"5\r\n", qv_ini("1", "9600,N,8,1").replace("[COM_PORT]", "[COM_PORt]"),
         "Falta la sección [COM_PORT] en ", std::vector<int>(9, 100), ""},
        {"5\r\n", qv_ini("1", "9600,N,8,1").replace("[COM_CFG]", "[COM CFG]"),
         "Falta la sección [COM_CFG] en ", std::vector<int>(9, 100), ""},
        // A delay missing is named so, not read as 0.
        {"5\r\n",
         qv_ini("1", "9600,N,8,1", {"10", "20", "30"}).replace("[T4]", "[t4]"),
         "Falta la sección [T4] en ",
         {10, 20, 30, 5, 3, 3, 3, 3, 3},
         ""},
        {"5\r\n",
         qv_ini("1", "9600,N,8,1", {"10", "20", "30", "abc"}),
         "[T4]",
         {10, 20, 30, 5, 3, 3, 3, 3, 3},
         ""},
    };
    for (const Caso& c : casos) {
        QFile::remove("qv_int.ini");
        if (!c.qv_int.isNull())
            CarpetaTemporal::escribir("qv_int.ini", c.qv_int);
        CarpetaTemporal::escribir("qv.ini", c.qv);
        caja.mensajes.clear();
        Form1& f = cargar();
        ASSERT_EQ(caja.mensajes.size(), 1u) << c.dice;
        EXPECT_EQ(caja.mensajes[0].titulo, "Inicio");
        EXPECT_TRUE(caja.mensajes[0].texto.contains(c.dice))
            << caja.mensajes[0].texto.toStdString();
        EXPECT_EQ(intervalos(), c.intervalos) << c.dice;
        EXPECT_EQ(paneles()[1], c.panel_puerto) << c.dice;
        EXPECT_FALSE(f.contador_minutos.has_value()) << c.dice;
        // A port whose settings were never read sends nothing, and says why.
        puerto.limpiar();
        f.Command1_Click();
        hora.avanzar(4000);
        EXPECT_TRUE(puerto.eventos.empty()) << c.dice;
        EXPECT_TRUE(f.StatusBar1->currentMessage().contains("qv.ini")) << c.dice;
    }
    // Without "qv_int.ini" closing creates it with the empty field.
    QFile::remove("qv_int.ini");
    cargar().close();
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("\r\n"));
}

TEST_F(Sender, EveryFullSetLandsItsSecondsByteOnTheSecondItCarries) {
    CarpetaTemporal::escribir("qv_int.ini", "1\r\n");
    struct Caso {
        const char* boton;
        QDateTime pulsado;
        QByteArray linea;
    };
    const Caso casos[] = {
        {"Enviar", QDateTime(QDate(2026, 12, 5), QTime(19, 33, 43)),
         QByteArray("D\x05M\x12Y\x26H\x19m\x33S\x44"
                    "CWCF",
                    16)},
        {"Inicio", QDateTime(QDate(2026, 12, 5), QTime(14, 5, 59, 600)),
         QByteArray("D\x05M\x12Y\x26H\x14m\x06S\x02"
                    "CWCF",
                    16)},
        {"Command7", QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 300)),
         QByteArray("D\x01M\x01Y\x27H\x00m\x00S\x02"
                    "CWCF",
                    16)},
    };
    const std::map<QString, void (Form1::*)()> botones = {{"Enviar", &Form1::Command4_Click},
                                                          {"Inicio", &Form1::Command1_Click},
                                                          {"Command7", &Form1::Command7_Click}};
    // What the journal hears.
    QByteArray diario;
    quarvel::desviar_diario([&diario](const QByteArray& l) { diario += l; });
    for (const Caso& c : casos) {
        Form1& f = cargar();
        puerto.limpiar();
        diario.clear();
        hora.fijar(c.pulsado);
        (f.*botones.at(c.boton))();
        EXPECT_EQ(puerto.cuenta(Tipo::Abrir), 1) << c.boton;
        hora.avanzar(4000);
        EXPECT_EQ(puerto.escritos(), c.linea) << c.boton;
        EXPECT_EQ(diario, "<6>puesta en hora enviada: " +
                              f.planCadena().borde.toString("dd/MM/yyyy HH:mm:ss").toUtf8() + '\n')
            << c.boton;
        EXPECT_FALSE(puerto.PortOpen()) << c.boton;

        // "S" and its value leave together; the value finishes arriving on
        // the second; the steps keep their 100 ms spacing.
        const qint64 s = momento_de("S");
        EXPECT_NEAR(static_cast<double>(s) + 2 * k9600, f.planCadena().borde_us, 1) << c.boton;
        EXPECT_EQ(s - momento_de("D"), 500'000) << c.boton;
        EXPECT_EQ(momento_de("CW") - s, 100'000) << c.boton;
        EXPECT_EQ(momento_de("CF") - momento_de("CW"), 100'000) << c.boton;
        // The chain started soon after the click: within a second, or
        // three near a change of minute.
        const qint64 espera = momento_de("D") - 100'000 - c.pulsado.toMSecsSinceEpoch() * 1000;
        EXPECT_GE(espera, 0) << c.boton;
        EXPECT_LT(espera, 3'000'000) << c.boton;
    }
    quarvel::desviar_diario(nullptr);
}

TEST_F(Sender, AStepOfThePcClockOrAStallInASetPlansItAgain) {
    struct Caso {
        const char* que;
        // When, in ms from the planned start, and what befalls the clock.
        qint64 en_ms;
        std::function<void(RelojVirtual&)> golpe;
    };
    const Caso casos[] = {
        {"-5 s in the wait", -200, [](RelojVirtual& h) { h.saltar_us(-5'000'000); }},
        {"-5 s after D", 150, [](RelojVirtual& h) { h.saltar_us(-5'000'000); }},
        {"+1 h after D", 150, [](RelojVirtual& h) { h.saltar_us(3'600'000'000LL); }},
        {"70 s stalled after D", 150, [](RelojVirtual& h) { h.detener(70'000); }},
    };
    for (const Caso& c : casos) {
        Form1& f = cargar();
        hora.fijar(5, 12, 2026, 19, 33, 42, 900);
        puerto.limpiar();
        f.Command4_Click();
        hora.avanzar((f.planCadena().inicio_us - hora.t_us) / 1000 + c.en_ms);
        c.golpe(hora);
        hora.avanzar(10'000);
        // The line ends in one whole set (what went before it stopped short
        // of its seconds), and the second it carries is the one its seconds
        // byte lands on.
        const QByteArray linea = puerto.escritos();
        EXPECT_TRUE(linea.endsWith(cadena_para(f.planCadena().borde))) << c.que;
        EXPECT_LT(linea.size(), 2 * 16) << c.que;
        EXPECT_NEAR(static_cast<double>(momento_de("S")) + 2 * k9600, f.planCadena().borde_us, 1)
            << c.que;
        EXPECT_EQ(f.Text3->text(), quarvel::formato_hora(f.planCadena().borde)) << c.que;
        EXPECT_FALSE(puerto.PortOpen()) << c.que;
    }
}

TEST_F(Sender, CambiarWhileASetWaitsKeepsTheSetAndPararDropsAPlannedSecondsSend) {
    Form1& f = cargar();
    f.Command1_Click();
    // Before the first step: the caption changes, the set goes out whole
    // and ends in the mode chosen.
    f.Check1->click();
    EXPECT_EQ(f.Label6->text(), "Hora");
    hora.avanzar(4000);
    EXPECT_EQ(puerto.escritos(), cadena_para(f.planCadena().borde).replace("CF", "CH"));
    EXPECT_FALSE(puerto.PortOpen());

    // The minute tick at 19:39:00 plans "S" for 19:39:05; "Parar" before it
    // sends nothing and closes the port the tick opened.
    hora.fijar(5, 12, 2026, 19, 38, 59, 999);
    f.contador_minutos = 4;
    puerto.limpiar();
    f.Timer1_Timer();
    EXPECT_TRUE(puerto.PortOpen());
    // A switch made meanwhile waits for the send's end, which "Parar" is.
    f.Check1->click();
    EXPECT_TRUE(puerto.escritos().isEmpty());
    f.Command2_Click();
    hora.avanzar(60'000);
    EXPECT_EQ(puerto.escritos(), QByteArray("CF"));
    EXPECT_FALSE(puerto.PortOpen());
    // With no switch waiting, it sends nothing at all.
    hora.fijar(5, 12, 2026, 19, 39, 59, 999);
    f.contador_minutos = 4;
    puerto.limpiar();
    f.Timer1_Timer();
    f.Command2_Click();
    hora.avanzar(60'000);
    EXPECT_TRUE(puerto.escritos().isEmpty()) << puerto.escritos().toStdString();
    EXPECT_FALSE(puerto.PortOpen());

    // Sent, "Ultima Dato Enviado" shows the second the value landed on.
    f.Command1_Click();
    hora.avanzar(4000);
    f.contador_minutos = 4;
    hora.fijar(5, 12, 2026, 19, 41, 59, 999);
    f.Timer1_Timer();
    hora.avanzar(10'000);
    EXPECT_EQ(f.Text3->text(), "19:42:05");
    EXPECT_TRUE(puerto.escritos().endsWith(QByteArray("S\x05"
                                                      "CF",
                                                      4)));
}

TEST_F(Sender, ZeroDelayStopsTheChainAtItsStep) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"100", "100", "0"}));
    Form1& f = cargar();
    f.Command4_Click();
    hora.avanzar(5000);
    EXPECT_EQ(puerto.escritos(), QByteArray("D\x05M\x12", 4));
    EXPECT_TRUE(f.Timer6->Enabled());
    EXPECT_TRUE(puerto.PortOpen());
    // Nothing will end that exchange: a switch of mode goes out at once.
    f.Check1->click();
    EXPECT_TRUE(puerto.escritos().endsWith("CH"));
}

TEST_F(Sender, ANewStartReplacesAChainUnderWay) {
    Form1& f = cargar();
    f.Command4_Click();
    hora.avanzar(f.planCadena().inicio_us / 1000 - hora.t_us / 1000 + 250);
    EXPECT_EQ(puerto.escritos(), QByteArray("D\x05M\x12", 4));
    f.Command4_Click();
    hora.avanzar(3000);
    // The first chain stopped where it was; the second ran whole.
    EXPECT_EQ(puerto.escritos().mid(4), QByteArray("D\x05M\x12Y\x26H\x19m\x33S\x45"
                                                   "CWCF",
                                                   16));
}

TEST_F(Sender, PeriodicSecondsLandOnASecondFrom05To54) {
    CarpetaTemporal::escribir("qv_int.ini", "2\r\n");
    const std::pair<QTime, QTime> casos[] = {
        // Inicio at; the seconds land at (two minutes on).
        {QTime(10, 0, 20), QTime(10, 2, 21)},
        {QTime(10, 0, 57, 500), QTime(10, 3, 5)},
    };
    for (const auto& [inicio, llegada] : casos) {
        Form1& f = cargar();
        hora.fijar(QDateTime(QDate(2026, 12, 5), inicio));
        f.Command1_Click();
        hora.avanzar(5000);
        puerto.limpiar();
        hora.avanzar(130'000);
        EXPECT_EQ(f.contador_minutos, 0);
        // Reopened at the minute tick, then "S" and the value as two writes,
        // then the restore one [T7] later.
        ASSERT_FALSE(puerto.eventos.empty());
        EXPECT_EQ(puerto.eventos.front().tipo, Tipo::Abrir);
        const QByteArray segundo(1, static_cast<char>(quarvel::bcd(llegada.second())));
        EXPECT_EQ(puerto.escrituras(), (std::vector<QByteArray>{"S", segundo, "CF"}));
        const QDateTime borde(QDate(2026, 12, 5), llegada);
        EXPECT_NEAR(static_cast<double>(momento_de("S")) + 2 * k9600,
                    static_cast<double>(borde.toMSecsSinceEpoch()) * 1000, 1);
        EXPECT_EQ(momento_de("CF") - momento_de("S"), 100'000);
        EXPECT_FALSE(puerto.PortOpen());
        f.Command2_Click();
    }
}

TEST_F(Sender, PararKeepsTheMinuteCountAndGrabarRestartsIt) {
    Form1& f = cargar();
    f.Command1_Click();
    hora.avanzar(3 * 60'000 + 2000);
    EXPECT_EQ(f.contador_minutos, 3);
    f.Command2_Click();
    EXPECT_FALSE(f.Timer1->Enabled() || f.Timer3->Enabled());
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kNegro);
    hora.avanzar(10 * 60'000);
    EXPECT_EQ(f.contador_minutos, 3);
    // Resumed, the next send comes two minutes on, not five.
    f.Command1_Click();
    hora.avanzar(2000);
    puerto.limpiar();
    hora.avanzar(2 * 60'000);
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_EQ(puerto.cuenta(Tipo::Abrir), 1);

    f.contador_minutos = 4;
    f.Command3_Click();
    EXPECT_EQ(f.contador_minutos, 0);
    EXPECT_TRUE(f.Timer1->Enabled() && f.Timer3->Enabled());
    EXPECT_EQ(f.Label4->text(), "Enviando");
}

TEST_F(Sender, BlinkAlternatesTheTwoLooks) {
    Form1& f = cargar();
    f.Command1_Click();
    EXPECT_EQ(f.Label4->text(), "Enviando");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kRojoClaro);
    hora.avanzar(700);
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(quarvel::color_de_fondo(f.Label4), quarvel::kNegro);
    hora.avanzar(700);
    EXPECT_EQ(f.Label4->text(), "Enviando");
}

TEST_F(Sender, TabReachesOnlyWhatTheWindowShows) {
    Form1& f = cargar();
    const auto fuera = [&f] {
        QStringList r;
        for (QWidget* w : f.findChildren<QWidget*>())
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&f) && w->isEnabled() &&
                !f.rect().contains(QRect(w->mapTo(&f, QPoint(0, 0)), w->size())))
                r << w->objectName() + u'/' + w->metaObject()->className();
        return r;
    };
    f.show();
    EXPECT_EQ(fuera(), QStringList());
    EXPECT_EQ(f.Command7->focusPolicy(), Qt::NoFocus);
    // The status panels side by side, none over the next, all in sight.
    for (std::size_t i = 0; i + 1 < f.Panels.size(); ++i)
        EXPECT_LT(f.Panels[i]->geometry().right(), f.Panels[i + 1]->geometry().left()) << i;
    EXPECT_LE(f.Panels.back()->mapTo(&f, f.Panels.back()->rect().bottomRight()).x(), f.width());
    // Enlarged far enough, Command7 is there to see, and to reach.
    f.resize(f.width(), 400);
    EXPECT_EQ(fuera(), QStringList());
    EXPECT_NE(f.Command7->focusPolicy(), Qt::NoFocus);
}

TEST_F(Sender, Command7CountsLikeAMinuteTick) {
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
    hora.avanzar(2000);
    EXPECT_EQ(puerto.escritos().size(), 16);
}

TEST_F(Sender, CambiarSwitchesTheClockDisplayOnlyWhenItReachesIt) {
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

    // Ticked, a full set ends in the time-only mode.
    f.Check1->click();
    f.Command4_Click();
    hora.avanzar(2000);
    EXPECT_TRUE(puerto.escritos().endsWith("CWCH"));

    puerto.fallo_apertura = QStringLiteral("No existe el puerto COM1");
    f.Check1->click();
    EXPECT_EQ(f.Label6->text(), "Hora");
    EXPECT_TRUE(f.Check1->isChecked());
    EXPECT_EQ(f.ultimoFallo(), puerto.fallo_apertura);
    f.Command5_Click();
    EXPECT_EQ(configuraciones, 1);
}

TEST_F(Sender, PortThatCannotOpenIsReportedOnceAndRetried) {
    Form1& f = cargar();
    puerto.fallo_apertura =
        QStringLiteral("No existe el puerto COM1 → "
                       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ1AB-if00-port0: "
                       "conecte el reloj o revise [COM_PORT] en qv.ini");
    const QString enviado = f.Text3->text();
    f.Command1_Click();
    hora.avanzar(2000);
    EXPECT_TRUE(caja.mensajes.empty()) << "no modal box";
    // Shortened to the bar with an ellipsis, whole in its tip.
    const QString barra = f.StatusBar1->currentMessage();
    EXPECT_TRUE(barra.endsWith(QChar(0x2026)) && puerto.fallo_apertura.startsWith(barra.chopped(1)))
        << barra.toStdString();
    EXPECT_LE(QFontMetrics(f.StatusBar1->font()).horizontalAdvance(barra), f.StatusBar1->width());
    EXPECT_EQ(f.StatusBar1->toolTip(), puerto.fallo_apertura);
    EXPECT_TRUE(puerto.escritos().isEmpty());
    EXPECT_EQ(f.Text3->text(), enviado) << "nothing was sent";
    EXPECT_TRUE(f.Timer1->Enabled()) << "periodic sending goes on";

    puerto.fallo_apertura.clear();
    f.StatusBar1->clearMessage();
    f.Command4_Click();
    hora.avanzar(2000);
    EXPECT_EQ(puerto.escritos().size(), 16);
    EXPECT_TRUE(f.StatusBar1->currentMessage().isEmpty());
}

TEST_F(Sender, UnloadWritesTheIntervalFieldBackWhole) {
    for (const QByteArray& linea : {QByteArray("  5 min"), QByteArray(40000, '7')}) {
        CarpetaTemporal::escribir("qv_int.ini", linea + "\r\nmore\r\n");
        cargar().close();
        EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), linea + "\r\n");
    }
}

TEST_F(Sender, UnloadNeverTouchesAFileStartUpRefused) {
    // A FIFO (opening it to write would block), a folder, a file too large
    // and a link to a device: each stays as it was, and closing returns.
    const std::pair<const char*, std::function<void()>> casos[] = {
        {"fifo", [] { ASSERT_TRUE(crear_tuberia("qv_int.ini")); }},
        {"folder", [] { ASSERT_TRUE(QDir().mkdir("qv_int.ini")); }},
        {"large", [] { CarpetaTemporal::escribir("qv_int.ini", QByteArray(70000, '5')); }},
        {"device", [] { ASSERT_TRUE(QFile::link("/dev/null", "qv_int.ini")); }},
    };
    for (const auto& [que, hacer] : casos) {
        if (en_windows() && (que == std::string("fifo") || que == std::string("device")))
            continue; // neither a FIFO nor a link to a device there
        QFile::remove("qv_int.ini");
        hacer();
        const QFileInfo antes("qv_int.ini");
        cargar().close();
        const QFileInfo despues("qv_int.ini");
        EXPECT_EQ(despues.isDir(), antes.isDir()) << que;
        EXPECT_EQ(despues.isSymLink(), antes.isSymLink()) << que;
        EXPECT_EQ(despues.size(), antes.size()) << que;
        EXPECT_EQ(QFileInfo("/dev/null").isFile(), false);
        QDir().rmdir("qv_int.ini");
    }
}

TEST_F(Sender, AFailedSaveOnASignalsCloseGoesToStderrNotABox) {
    if (en_windows())
        GTEST_SKIP() << "Windows keeps a folder in use from being removed";
    for (bool por_senal : {true, false}) {
        Form1& f = cargar();
        // The folder goes away under the running window: the save fails.
        QDir(dir.ruta()).removeRecursively();
        if (por_senal)
            f.cerrarSinPreguntar();
        else
            f.close();
        EXPECT_EQ(caja.mensajes.size(), por_senal ? 0u : 1u);
        caja.mensajes.clear();
        QDir().mkpath(dir.ruta());
        QDir::setCurrent(dir.ruta());
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
    }
}
