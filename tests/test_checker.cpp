#include "checker/bandeja_form.h"
#include "checker/historial.h"
#include "clock_link/palabras.h"
#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "simulator/modelo_aparato.h"
#include "tests/ventanas.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScatterSeries>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using quarvel::NotifyIconData;
using quarvel430::Form1;
using Tipo = PuertoFalso::Tipo;

namespace {

class Checker : public PruebaDeVentana {
protected:
    void SetUp() override {
        hora.fijar(5, 12, 2008, 14, 5, 7);
        // The clock answers a read request with `contestar`.
        puerto.al_escribir = [this](const QByteArray& b) {
            if (b == "CX")
                puerto.recibir(contestar);
        };
    }
    Form1& cargar() {
        quarvel430::Entorno e;
        e.puerto = &puerto;
        e.hora = &hora;
        e.mensajes = &caja;
        e.configurar = [](QWidget*) {};
        e.notificar = [this](std::uint32_t m, const NotifyIconData* d) {
            llamadas.push_back({m, *d});
            return hay_bandeja;
        };
        e.hay_bandeja = [this] { return hay_bandeja; };
        e.al_llegar_bandeja = [this](QObject*, std::function<void()> f) { llega_bandeja = f; };
        e.estado_pc = [] { return quarvel::EstadoPc{true, true, 0.0001}; };
        e.con_ventana = con_ventana;
        form = std::make_unique<Form1>(e);
        form->Form_Load();
        return *form;
    }
    // The window loaded with its own timers stopped: the test drives them.
    Form1& quieto() {
        form = checker_quieto(puerto, hora, caja);
        return *form;
    }
    // A complete update as Timer1 starts it, run to its end.
    void actualizar() {
        form->Timer1_Timer();
        hora.avanzar(2000);
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            form->Timer2_Timer();
    }
    struct Llamada {
        std::uint32_t mensaje;
        NotifyIconData datos;
    };
    QByteArray contestar;
    bool hay_bandeja = true;
    bool con_ventana = false;
    std::function<void()> llega_bandeja;
    std::vector<Llamada> llamadas;
    std::unique_ptr<Form1> form;
};

} // namespace

TEST_F(Checker, StartUpGoesToTheTrayAndSetsTheClock) {
    hora.fijar(5, 12, 2008, 14, 5, 7, 400);
    Form1& f = cargar();
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_EQ(f.windowTitle(), "Quarvel 4.3");
    EXPECT_EQ(f.Text1->text(), "14:05:07");
    EXPECT_EQ(f.Text4->text(), "05/12/2008");
    EXPECT_EQ(f.Text3->text(), "14:05:07");
    EXPECT_EQ(f.Timer4->Interval(), 100);
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    EXPECT_EQ(f.Label4->text(), "Enviando");
    EXPECT_EQ(f.Panels[3]->text(), "9600");
    EXPECT_FALSE(puerto.PortOpen());
    EXPECT_TRUE(f.en_bandeja());
    EXPECT_FALSE(f.Label7->isVisibleTo(&f));

    ASSERT_EQ(llamadas.size(), 1u);
    EXPECT_EQ(llamadas[0].mensaje, quarvel::NIM_ADD);
    const NotifyIconData& d = llamadas[0].datos;
    EXPECT_EQ(d.cbSize, 88u);
    EXPECT_EQ(d.uID, 1u);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, 512u);
    EXPECT_NE(d.hIcon, 0u);
    EXPECT_EQ(QByteArray(d.szTip, 64), QByteArray("Quarvel 4.3\0", 12) + QByteArray(52, ' '));

    // The first refresh comes on the first second after start-up.
    hora.avanzar(599);
    EXPECT_FALSE(f.Command1->isEnabled());
    hora.avanzar(1);
    EXPECT_EQ(f.Text1->text(), "14:05:08");
    EXPECT_TRUE(f.Command1->isEnabled());
    // A second after start-up the update starts; its seconds byte lands on
    // the second it carries.
    hora.avanzar(2500);
    EXPECT_EQ(puerto.escritos(), QByteArray("D\x05M\x12Y\x08H\x14m\x05S\x10"
                                            "CWCF",
                                            16));
    EXPECT_NEAR(static_cast<double>(momento_de("S")) + 2 * k9600, f.chequeador().plan().borde_us,
                1);
    EXPECT_EQ(f.chequeador().plan().borde, QDateTime(QDate(2008, 12, 5), QTime(14, 5, 10)));
    EXPECT_FALSE(puerto.PortOpen());
    EXPECT_FALSE(f.Timer4->Enabled());
}

TEST_F(Checker, AWarningBoxLeftOpenAtStartDoesNotHoldTheSetOrTheChecks) {
    CarpetaTemporal::escribir("qv_int.ini", "abc\r\n");
    caja.mientras = [this] { hora.avanzar(3000); };
    Form1& f = cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(puerto.escritos().endsWith("CWCF")) << "the start-up set went out under the box";
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
}

TEST_F(Checker, WithConVentanaTheWindowStaysAndSaysWhereItLives) {
    con_ventana = true;
    Form1& f = cargar();
    ASSERT_EQ(llamadas.size(), 1u);
    EXPECT_EQ(llamadas[0].mensaje, quarvel::NIM_ADD);
    EXPECT_FALSE(f.en_bandeja());
    EXPECT_TRUE(f.Label9->text().contains("bandeja")) << f.Label9->text().toStdString();
    EXPECT_TRUE(f.Label9->text().contains("Restaurar"));
}

TEST_F(Checker, WithoutATrayTheWindowStaysUntilOneComes) {
    hay_bandeja = false;
    Form1& f = cargar();
    f.show();
    EXPECT_FALSE(f.en_bandeja());
    EXPECT_TRUE(llamadas.empty());
    f.reintentar_bandeja();
    EXPECT_TRUE(f.isVisible());
    // A panel that starts late still gets the icon and the window hides, as
    // soon as its watcher comes onto the bus.
    hay_bandeja = true;
    ASSERT_TRUE(llega_bandeja);
    llega_bandeja();
    EXPECT_TRUE(f.en_bandeja());
    EXPECT_FALSE(f.isVisible());
    // The panel restarting later leaves a restored window in place.
    f.restaurar->trigger();
    llega_bandeja();
    EXPECT_TRUE(f.isVisible());
    ASSERT_EQ(llamadas.size(), 1u);
    EXPECT_EQ(llamadas[0].mensaje, quarvel::NIM_ADD);
}

TEST_F(Checker, MissingIntervalFileLeavesTheDisplayAndSaysSoInRed) {
    QFile::remove("qv_int.ini");
    Form1& f = cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Inicio");
    EXPECT_TRUE(caja.mensajes[0].texto.contains("qv_int.ini"));
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Parado);
    // Said for as long as it runs: the line, the window's icon, the tray's,
    // and the window is not hidden there.
    EXPECT_TRUE(f.Label9->text().startsWith("Los ajustes no sirven"));
    EXPECT_TRUE(f.Label9->toolTip().contains("qv_int.ini"));
    EXPECT_EQ(f.Image1->pixmap().toImage(),
              quarvel::icono_atencion(quarvel::icono_sin_comprobar(quarvel::icono_programa()))
                  .pixmap(32, 32)
                  .toImage());
    ASSERT_GE(llamadas.size(), 2u);
    EXPECT_EQ(llamadas[0].mensaje, quarvel::NIM_ADD);
    EXPECT_TRUE(QByteArray(llamadas.back().datos.szTip).contains("Los ajustes no sirven"));
    EXPECT_FALSE(f.en_bandeja());
    hora.avanzar(1000);
    EXPECT_EQ(f.Text1->text(), "14:05:08");
    EXPECT_TRUE(f.Command1->isEnabled());
    EXPECT_TRUE(puerto.eventos.empty());
}

TEST_F(Checker, EveryUpdateLandsItsSecondsByteOnTheSecondItCarries) {
    struct Caso {
        QDateTime inicio;
        bool por_inicio, solo_hora;
        QByteArray linea;
    };
    const Caso casos[] = {
        {QDateTime(QDate(2008, 12, 5), QTime(14, 5, 59, 500)), false, false,
         QByteArray("D\x05M\x12Y\x08H\x14m\x06S\x02"
                    "CWCF",
                    16)},
        {QDateTime(QDate(2029, 12, 31), QTime(23, 59, 59, 200)), true, true,
         QByteArray("D\x01M\x01Y\x30H\x00m\x00S\x02"
                    "CWCH",
                    16)},
    };
    for (const Caso& c : casos) {
        Form1& f = quieto();
        puerto.limpiar();
        f.Check1->setChecked(c.solo_hora);
        hora.fijar(c.inicio);
        if (c.por_inicio)
            f.Command1_Click();
        else
            f.Timer1_Timer();
        hora.avanzar(4000);
        const auto w = puerto.escrituras();
        ASSERT_EQ(w.size(), 8u);
        EXPECT_EQ(puerto.escritos(), c.linea);
        EXPECT_NEAR(static_cast<double>(momento_de("S")) + 2 * k9600,
                    f.chequeador().plan().borde_us, 1);
        EXPECT_EQ(momento_de("S") - momento_de("D"), 500'000);
        EXPECT_FALSE(puerto.PortOpen());
        EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    }
}

TEST_F(Checker, AStepOfThePcClockOrAStallPlansTheUpdateAgainAndReadsBackAt31) {
    const std::pair<qint64, std::function<void(RelojVirtual&)>> golpes[] = {
        // When, in ms from the planned start, and what befalls the clock.
        {-200, [](RelojVirtual& h) { h.saltar_us(-5'000'000); }},
        {150, [](RelojVirtual& h) { h.saltar_us(3'600'000'000LL); }},
        {150, [](RelojVirtual& h) { h.saltar_us(-86'400'000'000LL); }},
        {250, [](RelojVirtual& h) { h.detener(70'000); }},
    };
    for (const auto& [en_ms, golpe] : golpes) {
        Form1& f = quieto();
        puerto.limpiar();
        f.Timer1_Timer();
        hora.avanzar((f.chequeador().plan().inicio_us - hora.t_us) / 1000 + en_ms);
        golpe(hora);
        hora.avanzar(10'000);
        const QByteArray linea = puerto.escritos();
        EXPECT_TRUE(linea.endsWith(cadena_para(f.chequeador().plan().borde))) << en_ms;
        EXPECT_LT(linea.size(), 2 * 16);
        EXPECT_NEAR(static_cast<double>(momento_de("S")) + 2 * k9600,
                    f.chequeador().plan().borde_us, 1);
        EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    }

    // Running, a step of the clock brings a read-back at the next second 31
    // though the interval's count is far from due.
    Form1& f = cargar();
    hora.avanzar(5000);
    hora.fijar(5, 12, 2008, 14, 5, 40);
    hora.avanzar(200);
    hora.saltar_us(3'600'000'000LL);
    puerto.limpiar();
    hora.avanzar(52'000);
    EXPECT_EQ(puerto.escritos(), QByteArray("CX"));
    EXPECT_EQ(f.Text3->text(), "15:06:31");
}

TEST_F(Checker, ChecksFallDueByIntervalCount) {
    for (const auto& [intervalo, esperado] : {std::pair{"5", 2701}, {"2", 900}}) {
        CarpetaTemporal::escribir("qv_int.ini", QByteArray(intervalo) + "\r\n");
        quieto();
        int n = 0;
        while (!form->chequeador().pendiente() && n < 10000) {
            form->Timer2_Timer();
            ++n;
        }
        EXPECT_EQ(n, esperado) << intervalo;
        // Due, it waits for second 31: still pending at 14:05:07.
        ticks(20);
        EXPECT_TRUE(form->chequeador().pendiente());
        EXPECT_EQ(form->Label7->text(), "0");
    }
}

TEST_F(Checker, SettingsThatCannotWorkAreNamedAndCheckingGoesOnOnceAMinute) {
    struct Caso {
        QByteArray intervalo, t1;
        const char* nombra;
    };
    const Caso casos[] = {
        {"0", "100", "\"0\""},   {"abc", "100", "\"abc\""}, {"", "100", "\"\""},
        {"-5", "100", "\"-5\""}, {"2.5", "100", "\"2.5\""}, {"1", "0", "[T1]"},
    };
    // A clock a day behind: every read-back finds it wrong.
    contestar = respuesta(4, 12, 8, 14, 5, 33);
    for (const Caso& c : casos) {
        CarpetaTemporal::escribir("qv_int.ini", c.intervalo + "\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {c.t1}));
        QFile::remove("sincro.txt");
        QFile::remove("historial.csv");
        caja.mensajes.clear();
        hora.fijar(5, 12, 2008, 14, 5, 7);
        Form1& f = cargar();
        ASSERT_EQ(caja.mensajes.size(), 1u) << c.nombra;
        EXPECT_TRUE(caja.mensajes[0].texto.contains(c.nombra))
            << caja.mensajes[0].texto.toStdString();
        EXPECT_FALSE(caja.mensajes[0].texto.contains("Timer"));
        puerto.limpiar();
        hora.avanzar(5 * 60'000);
        const auto lecturas = puerto.escritos().count("CX");
        EXPECT_GE(lecturas, 4) << c.nombra;
        EXPECT_LE(lecturas, 5) << c.nombra;
        EXPECT_EQ(CarpetaTemporal::leer("sincro.txt").count("\r\n"), lecturas) << c.nombra;
        if (c.t1 == "0") {
            EXPECT_TRUE(f.ultimoFallo().contains("[T1]"));
            // What really happens: logged, not set.
            const auto filas = quarvel::leer_historial();
            ASSERT_FALSE(filas.empty());
            EXPECT_EQ(filas.back().accion, quarvel::Accion::Ninguna);
        }
    }
    // Out of range, the delay is named by its section.
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1", {"70000"}));
    caja.mensajes.clear();
    cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(caja.mensajes[0].texto.contains("[T1]"));
    EXPECT_FALSE(caja.mensajes[0].texto.contains("Timer"));
}

TEST_F(Checker, NothingShowsRightBeforeAReplyAgrees) {
    using quarvel::icono_atencion;
    using quarvel::icono_programa;
    using quarvel::icono_sin_comprobar;
    const auto imagen = [](const QIcon& i) { return i.pixmap(32, 32).toImage(); };
    const auto se_ve = [&](Form1& f) { return f.Image1->pixmap().toImage(); };
    Form1& f = cargar();
    f.Timer1->setEnabled(false);
    EXPECT_EQ(se_ve(f), imagen(icono_sin_comprobar(icono_programa())));
    EXPECT_TRUE(f.Label9->text().startsWith("Sin comprobar todavía"));
    const std::uint32_t sin_comprobar = llamadas[0].datos.hIcon;

    // A reply that agrees: the green mark, in the window and the tray.
    contestar = respuesta(5, 12, 8, 14, 5, 31);
    chequear(f, hora, hora.ahora());
    EXPECT_EQ(se_ve(f), imagen(icono_programa()));
    ASSERT_EQ(llamadas.back().mensaje, quarvel::NIM_MODIFY);
    EXPECT_NE(llamadas.back().datos.hIcon, sin_comprobar);

    // A wrong clock is set again: not known right until the next reply.
    contestar = respuesta(5, 12, 8, 14, 1, 33);
    chequear(f, hora, hora.ahora());
    EXPECT_EQ(se_ve(f), imagen(icono_sin_comprobar(icono_programa())));
    EXPECT_EQ(llamadas.back().datos.hIcon, sin_comprobar);

    // A port that fails: red in the window as in the tray.
    puerto.fallo_apertura = QStringLiteral("no existe");
    f.Check1->click();
    EXPECT_EQ(se_ve(f), imagen(icono_atencion(icono_sin_comprobar(icono_programa()))));
}

TEST_F(Checker, AClockSecondsOffInItsMinuteIsNotShownRight) {
    // 15 s ahead, in its minute at second 31: right by the comparison, but
    // once the reads know it, said "desviado" with the attention mark.
    Form1& f = cargar();
    hora.avanzar(3000); // the start-up set
    f.Timer2->setEnabled(false);
    // Each reply whole 30 ms after its request, as a line and a device take.
    qint64 llega_us = -1;
    puerto.al_escribir = [&](const QByteArray& b) {
        if (b == "CX")
            llega_us = hora.t_us + 30'000;
    };
    puerto.al_esperar = [&] {
        hora.avanzar(1);
        if (llega_us >= 0 && hora.t_us >= llega_us) {
            puerto.recibir(contestar);
            llega_us = -1;
        }
    };
    QDateTime m = hora.ahora();
    for (int i = 0; i < 8; ++i) {
        m = m.addSecs(60);
        contestar = respuesta(m.date().day(), m.date().month(), m.date().year() % 100,
                              m.time().hour(), m.time().minute(), 46);
        chequear(f, hora, m);
    }
    EXPECT_TRUE(f.Label9->text().contains(" desviado: ")) << f.Label9->text().toStdString();
    EXPECT_EQ(f.Image1->pixmap().toImage(),
              quarvel::icono_atencion(quarvel::icono_programa()).pixmap(32, 32).toImage());
    EXPECT_FALSE(QFile::exists("sincro.txt")) << "the comparison finds it right";
}

TEST_F(Checker, ComprobarAhoraInTheTrayMenuReadsBackAtTheNextSafeSecond) {
    Form1& f = cargar();
    hora.avanzar(3000); // the start-up set, to 14:05:10
    f.Timer2->setEnabled(false);
    contestar = respuesta(5, 12, 8, 14, 5, 33);
    puerto.limpiar();
    ASSERT_EQ(f.menu->actions().last()->text(), "Comprobar ahora");
    f.menu->actions().last()->trigger();
    f.Timer2_Timer();
    for (int ms = 0; ms < 1000 && f.chequeador().lectura_en_espera(); ++ms)
        hora.avanzar(1);
    EXPECT_EQ(puerto.escrituras(), std::vector<QByteArray>{"CX"});
    EXPECT_EQ(f.Label7->text(), "1");
}

TEST_F(Checker, RightClockLeavesNoLineAndKeepsTheRawReply) {
    Form1& f = quieto();
    contestar = QByteArray("CXd\x05m\x12y\x08h\x14n\x05S\x33", 14);
    chequear(f, hora, hora.ahora());
    EXPECT_EQ(f.Text3->text(), "14:05:31");
    EXPECT_EQ(puerto.escrituras().back(), "CX");
    EXPECT_TRUE(puerto.PortOpen());
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), contestar + "\r\n");
    EXPECT_EQ(f.Label7->text(), "1");
    EXPECT_EQ(f.Label8->text(), "1");
    EXPECT_FALSE(f.Timer1->Enabled());

    // A minute of 53 (the code of "S") is a value: the reply is read whole.
    const QByteArray completa = respuesta(5, 12, 8, 14, 53, 33);
    contestar = completa;
    puerto.esperas = 0;
    chequear(f, hora, QDateTime(QDate(2008, 12, 5), QTime(14, 53, 0)));
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), completa + "\r\n");
    EXPECT_EQ(puerto.esperas, 1);
    EXPECT_FALSE(QFile::exists("sincro.txt"));

    // Years from 2030 are this century too, 2060 and later included; a
    // seconds byte that is no packed decimal is never compared.
    const std::pair<int, QByteArray> casos[] = {
        {2031, respuesta(5, 12, 31, 9, 0, 33)},
        {2060, respuesta(5, 12, 60, 9, 0, 33)},
        {2099, respuesta(5, 12, 99, 9, 0, 33).replace(13, 1, "\x5A")},
    };
    for (const auto& [anio, r] : casos) {
        contestar = r;
        chequear(f, hora, QDateTime(QDate(anio, 12, 5), QTime(9, 0)));
        EXPECT_FALSE(QFile::exists("sincro.txt")) << anio;
    }
}

TEST_F(Checker, TheRawReplyIsWrittenThroughALinkAndKeptShort) {
    if (en_windows())
        GTEST_SKIP() << "QFile::link makes a shortcut on Windows, not a link";
    Form1& f = quieto();
    ASSERT_TRUE(QFile::link("ultima-respuesta", "salida.txt"));
    // A device that floods before its reply: the wait still ends at the
    // "S", and only the first 4 KiB are kept.
    contestar = QByteArray(10000, 'x') + respuesta(5, 12, 8, 14, 5, 33);
    chequear(f, hora, hora.ahora());
    EXPECT_EQ(puerto.esperas, 1);
    EXPECT_TRUE(QFileInfo("salida.txt").isSymLink());
    EXPECT_EQ(CarpetaTemporal::leer("ultima-respuesta"), QByteArray(4096, 'x') + "\r\n");
}

TEST_F(Checker, InicioRestartsAnUpdateAndResumesCheckingAfterALongParar) {
    Form1& f = quieto();
    f.Timer1_Timer();
    hora.avanzar(f.chequeador().plan().inicio_us / 1000 - hora.t_us / 1000 + 250);
    EXPECT_EQ(f.chequeador().paso(), quarvel::PasoActualizacion::Mes);
    f.Command1_Click();
    EXPECT_EQ(f.chequeador().paso(), quarvel::PasoActualizacion::Ninguno);
    hora.avanzar(2000);
    EXPECT_EQ(puerto.escrituras().size(), 2u + 8u);
    EXPECT_EQ(puerto.escrituras()[2], QByteArray("D\x05", 2));

    f.Command2_Click();
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Parado);
    ticks(600 * 5 + 400);
    EXPECT_FALSE(f.chequeador().pendiente());
    f.Command1_Click();
    hora.avanzar(2000);
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    ticks(2701);
    EXPECT_TRUE(f.chequeador().pendiente());
}

TEST_F(Checker, TrayClickPopsTheMenuAndRestaurarShowsTheWindow) {
    Form1& f = cargar();
    EXPECT_FALSE(f.isVisible());
    f.mensajeBandeja(quarvel::WM_MOUSEMOVE, 1);
    EXPECT_TRUE(f.menu->isVisible());
    f.menu->hide();
    f.Form_MouseMove(3, 0, 0, 0);
    EXPECT_FALSE(f.menu->isVisible());
    ASSERT_EQ(f.menu->actions().size(), 3);
    EXPECT_EQ(f.menu->actions()[0]->text(), "Restaurar");
    EXPECT_EQ(f.menu->actions()[1]->text(), "Historial");
    EXPECT_EQ(f.menu->actions()[2]->text(), "Comprobar ahora");
    // The history opens from the menu, the window still in the tray.
    f.historial->trigger();
    ASSERT_NE(f.ventana_historial(), nullptr);
    EXPECT_TRUE(f.ventana_historial()->isVisible());
    EXPECT_EQ(f.ventana_historial()->windowTitle(), "Historial");
    EXPECT_FALSE(f.isVisible());
    f.showMinimized();
    f.restaurar->trigger();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.isMinimized());
}

TEST_F(Checker, UnloadWritesTheIntervalAndRemovesTheIcon) {
    CarpetaTemporal::escribir("qv_int.ini", " 5 \r\n");
    Form1& f = cargar();
    f.close();
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray(" 5 \r\n"));
    ASSERT_EQ(llamadas.size(), 2u);
    EXPECT_EQ(llamadas[1].mensaje, quarvel::NIM_DELETE);
    EXPECT_EQ(std::memcmp(&llamadas[1].datos, &llamadas[0].datos, sizeof(NotifyIconData)), 0);
}

TEST_F(Checker, ClosingDuringTheReadBackEndsItCleanly) {
    Form1& f = cargar();
    f.Timer1->setEnabled(false);
    puerto.al_escribir = [&f](const QByteArray& b) {
        if (b == "CX")
            QTimer::singleShot(0, &f, [&f] { f.close(); });
    };
    chequear(f, hora, hora.ahora());
    EXPECT_LT(puerto.esperas, 5);
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("5\r\n"));
    EXPECT_EQ(llamadas.back().mensaje, quarvel::NIM_DELETE);
}

TEST_F(Checker, PortFailureIsShownInTheTipAndCheckingGoesOn) {
    Form1& f = cargar();
    puerto.fallo_apertura =
        QStringLiteral("El puerto COM1 (/dev/ttyS0) esta en uso por otro programa");
    hora.avanzar(3000);
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_EQ(f.StatusBar1->toolTip(), puerto.fallo_apertura);
    ASSERT_EQ(llamadas.size(), 2u) << "one report for the whole update";
    EXPECT_EQ(llamadas[1].mensaje, quarvel::NIM_MODIFY);
    EXPECT_TRUE(
        QByteArray(llamadas[1].datos.szTip).startsWith("Quarvel 4.3 (COM1): El puerto COM1"));
    EXPECT_EQ(f.chequeador().estado(), quarvel::EstadoChequeo::Chequeando);
    EXPECT_TRUE(puerto.escritos().isEmpty());

    // The port works again: the tip shows the title alone once more.
    puerto.fallo_apertura.clear();
    actualizar();
    ASSERT_EQ(llamadas.size(), 3u);
    EXPECT_EQ(llamadas[2].mensaje, quarvel::NIM_MODIFY);
    EXPECT_EQ(QByteArray(llamadas[2].datos.szTip, 64),
              QByteArray("Quarvel 4.3\0", 12) + QByteArray(52, ' '));
}

TEST_F(Checker, CambiarThatCannotReachTheClockChangesNothing) {
    Form1& f = quieto();
    puerto.fallo_apertura = QStringLiteral("No existe el puerto COM1");
    f.Check1->click();
    EXPECT_EQ(f.Label6->text(), "Fecha y Hora");
    EXPECT_FALSE(f.Check1->isChecked());
    puerto.fallo_apertura.clear();
    f.Check1->click();
    EXPECT_EQ(f.Label6->text(), "Hora");
    EXPECT_TRUE(f.Check1->isChecked());
    EXPECT_EQ(puerto.escritos(), "CH");
}

TEST_F(Checker, AFailureInTheStatusBarFitsWithAnEllipsis) {
    Form1& f = quieto();
    puerto.fallo_apertura =
        QStringLiteral("El puerto COM1 no existe: conecte el reloj o revise [COM_PORT] en qv.ini. ")
            .repeated(3);
    f.Check1->click();
    const QString m = f.StatusBar1->currentMessage();
    EXPECT_TRUE(m.endsWith(QChar(0x2026))) << m.toStdString();
    // Qt draws the message 6 px from the left and 12 short of the right.
    EXPECT_LE(QFontMetrics(f.StatusBar1->font()).horizontalAdvance(m), f.StatusBar1->width() - 18);
    EXPECT_EQ(f.StatusBar1->toolTip(), puerto.fallo_apertura);
}

TEST_F(Checker, DisplayFindsItsSecondAgainAfterLostTicks) {
    Form1& f = quieto();
    f.Timer2->setEnabled(true);
    hora.avanzar(1300);
    // Knock the tick count out of step, as ticks lost behind a slow handler
    // would.
    f.contador_reloj = 4;
    std::vector<qint64> cambios;
    QObject::connect(f.Text1, &QLineEdit::textChanged,
                     [&] { cambios.push_back(hora.t_us % 1'000'000); });
    hora.avanzar(2300);
    EXPECT_EQ(cambios, (std::vector<qint64>{0, 0}));
}

TEST_F(Checker, CaptionsNameTheirFieldsAndKeepClearOfThem) {
    CajaFalsa otra;
    auto sender = sender_quieto(puerto, hora, otra);
    Form1& f = quieto();
    const std::vector<std::pair<QLabel*, QLineEdit*>> pares = {{f.Label5, f.Text4},
                                                               {f.Label1, f.Text1},
                                                               {f.Label2, f.Text3},
                                                               {f.Label3, f.Text2},
                                                               {sender->Label5, sender->Text4},
                                                               {sender->Label1, sender->Text1},
                                                               {sender->Label2, sender->Text3},
                                                               {sender->Label3, sender->Text2}};
    for (const auto& [etiqueta, campo] : pares) {
        const QString texto = etiqueta->text();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(campo)->text(QAccessible::Name), texto);
        // The whole caption shows, ending before its field begins.
        EXPECT_GE(etiqueta->width(), etiqueta->sizeHint().width()) << texto.toStdString();
        EXPECT_LT(etiqueta->geometry().right() + 1, campo->x()) << texto.toStdString();
    }
}

TEST_F(Checker, KeepsAHistoryReadsInsideSecond31AndCorrectsFinely) {
    // The device model the estimator's tests share: a clock that answers 12
    // ms after each request with the second it holds, set when its seconds
    // byte arrives.
    quarvel::sim::ModeloAparato::Config modelo;
    modelo.byte_s = 0;
    modelo.latencia_s = 0.012;
    modelo.fluctuacion_s = 0.0005;
    modelo.error_puesta_s = 0.0002;
    quarvel::sim::ModeloAparato aparato(modelo, hora.t_us, 430);
    puerto.al_escribir = [&](const QByteArray& b) {
        if (b.startsWith('S') && b.size() == 2)
            aparato.puesta(hora.t_us);
        if (b != "CX")
            return;
        const QDateTime t = QDateTime::fromSecsSinceEpoch(aparato.responder(hora.t_us));
        puerto.recibir(respuesta(t.date().day(), t.date().month(), t.date().year() - 2000,
                                 t.time().hour(), t.time().minute(), t.time().second()));
    };
    CarpetaTemporal::escribir("qv_int.ini", "1\r\n");
    CarpetaTemporal::escribir("qv_fino.ini", "50\r\n");
    hora.fijar(5, 12, 2008, 14, 4, 40);
    Form1& f = cargar();
    EXPECT_EQ(f.umbral_fino(), std::optional<int>(50));
    hora.avanzar(15 * 60'000);
    auto filas = quarvel::leer_historial();
    ASSERT_GE(filas.size(), 14u);
    EXPECT_EQ(filas.back().accion, quarvel::Accion::Ninguna);
    EXPECT_NEAR(*filas.back().desvio_ms, 0, *filas.back().cota_ms + 0.1);
    EXPECT_LT(*filas.back().cota_ms, 100) << "the drift's bound over a quarter of an hour";
    // Historial opens on the last hour and follows each read-back.
    f.historial->trigger();
    auto* h = f.ventana_historial();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->rango(), quarvel430::VentanaHistorial::Rango::Hora);
    const auto lecturas_dibujadas = [h] {
        for (auto* serie : h->grafico->chart()->series())
            if (serie->name() == "lectura")
                return static_cast<QScatterSeries*>(serie)->count();
        return -1;
    };
    const int antes_de_leer = lecturas_dibujadas();
    EXPECT_GE(antes_de_leer, 14);
    hora.avanzar(60'000);
    EXPECT_EQ(lecturas_dibujadas(), antes_de_leer + 1);
    // Tab reaches every control; the chart takes no stop.
    EXPECT_EQ(h->grafico->focusPolicy(), Qt::NoFocus);
    for (QWidget* w : h->findChildren<QAbstractButton*>())
        EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus)
            << static_cast<QAbstractButton*>(w)->text().toStdString();
    // Knocked 1.4 s ahead behind the checker's back: unknown until the reads
    // tell a knock, then followed, and set again once it is sure.
    const std::size_t antes = quarvel::leer_historial().size();
    aparato.golpe(hora.t_us, 1.4);
    hora.avanzar(12 * 60'000);
    filas = quarvel::leer_historial();
    ASSERT_GT(filas.size(), antes + 3);
    EXPECT_FALSE(filas[antes].desvio_ms.has_value()) << "the knock's read says unknown";
    for (const auto& fila : filas)
        EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(fila.t_ms).time().second(), 31);
    for (const auto& e : puerto.eventos) {
        if (e.tipo == Tipo::Escribir && e.bytes == "CX") {
            EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(e.t_us / 1000).time().second(), 31);
        }
    }
    const auto fina =
        std::find_if(filas.begin() + static_cast<long>(antes), filas.end(),
                     [](const auto& f) { return f.accion == quarvel::Accion::CorreccionFina; });
    ASSERT_NE(fina, filas.end());
    EXPECT_NEAR(*fina->desvio_ms, 1400, *fina->cota_ms + 0.1);
    EXPECT_FALSE(QFile::exists("sincro.txt")) << "a fine correction is no mismatch";
    EXPECT_TRUE(f.Label9->text().contains("desvío")) << f.Label9->text().toStdString();
    // The set followed, planned like every other: the start-up's and this.
    const auto w = puerto.escrituras();
    EXPECT_EQ(std::count(w.begin(), w.end(), QByteArray("CW")), 2);

    // A setting that makes no number: named at start-up, and off.
    CarpetaTemporal::escribir("qv_fino.ini", "mucho\r\n");
    caja.mensajes.clear();
    Form1& g = cargar();
    EXPECT_EQ(g.umbral_fino(), std::nullopt);
    ASSERT_FALSE(caja.mensajes.empty());
    EXPECT_TRUE(caja.mensajes.back().texto.contains("desactivada"));
}

TEST_F(Checker, TheStatusLineFitsItsLongestTexts) {
    // Run again at twice the scale by CTest (QT_SCALE_FACTOR=2).
    Form1& f = quieto();
    f.show();
    quarvel::Registro r;
    r.t_us = hora.t_us;
    r.pc_sincronizado = false;
    r.estimacion = {true, -12345.6e-3, 9876.5e-3, -216e-6, 999e-6};
    const QStringList textos = {
        quarvel::resumen_breve(r, "23:59:31"),
        quarvel::resumen_breve(
            quarvel::Registro{r.t_us, quarvel::Resultado::Mal, {}, {}, false, {}}, "23:59:31"),
        QStringLiteral("una sola línea mucho más larga que el ancho de la ventana, con palabras "
                       "que no caben de ningún modo en ella"),
    };
    const QFontMetrics fm(f.Label9->font());
    for (const QString& t : textos) {
        f.mostrar_estado(t, QStringLiteral("detalle"));
        const QStringList lineas = f.Label9->text().split('\n');
        EXPECT_LE(lineas.size(), 2) << t.toStdString();
        for (const QString& l : lineas)
            EXPECT_LE(fm.horizontalAdvance(l), f.Label9->width()) << l.toStdString();
        // Its lines fit its height, and it ends above the status bar.
        EXPECT_LE(lineas.size() * fm.lineSpacing(), f.Label9->height()) << t.toStdString();
        EXPECT_LE(f.Label9->geometry().bottom(), f.StatusBar1->geometry().top());
        EXPECT_TRUE(f.Label9->toolTip().contains(t.section('\n', 0, 0))) << "the whole in its tip";
    }
}

TEST(Historial, AxesOnWholeHoursAndDaysAndFiguresThatCannotBeDrawn) {
    const qint64 ahora = QDateTime(QDate(2026, 12, 8), QTime(10, 34, 17)).toMSecsSinceEpoch();
    struct Caso {
        qint64 lapso_ms;
        qint64 paso_min; // the tick step expected
    };
    const Caso casos[] = {{3'600'000, 10},
                          {13 * 60'000, 2},
                          {86'400'000, 180},
                          {7 * 86'400'000LL, 1440},
                          {30 * 86'400'000LL, 4320}};
    for (const Caso& c : casos) {
        const auto e = quarvel430::eje_de_tiempo(ahora - c.lapso_ms, ahora);
        EXPECT_LE(e.desde_ms, ahora - c.lapso_ms);
        EXPECT_GE(e.hasta_ms, ahora);
        EXPECT_LE(e.marcas, 13) << c.lapso_ms;
        // Every tick on a whole step of local time.
        const qint64 paso = (e.hasta_ms - e.desde_ms) / (e.marcas - 1);
        EXPECT_EQ(paso, c.paso_min * 60'000) << c.lapso_ms;
        const QDateTime primero = QDateTime::fromMSecsSinceEpoch(e.desde_ms);
        EXPECT_EQ((primero.time().hour() * 60 + primero.time().minute()) %
                      std::min<qint64>(c.paso_min, 1440),
                  0)
            << primero.toString().toStdString();
        EXPECT_EQ(primero.time().second(), 0);
    }
    std::vector<quarvel::FilaHistorial> filas(3);
    for (std::size_t i = 0; i < filas.size(); ++i)
        filas[i].t_ms = ahora - 60'000 * static_cast<qint64>(i + 1);
    filas[0].desvio_ms = 1e308;
    filas[0].cota_ms = 1;
    filas[1].desvio_ms = 3;
    filas[1].cota_ms = 1e300;
    filas[2].desvio_ms = 2.5;
    filas[2].cota_ms = 1;
    const auto t = quarvel430::trazar(filas, ahora - 3'600'000, ahora, 100);
    EXPECT_EQ(t.omitidas, 2);
    ASSERT_EQ(t.desvio.size(), 1u) << "a single read-back is still drawn";
    EXPECT_DOUBLE_EQ(t.desvio[0].second, 2.5);
}
