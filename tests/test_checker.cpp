#include "checker/form1.h"
#include "clock_link/codificacion.h"
#include "platform/fuente_hora.h"
#include "platform/gui/bandeja.h"
#include "platform/gui/controles.h"
#include "platform/temporizador.h"
#include "tests/apoyo.h"
#include "tests/formas.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using quarvel::NotifyIconData;
using quarvel430::Form1;
using Tipo = PuertoFalso::Tipo;

namespace {

// The reply the clock gives: values at positions 4 to 14, "S" at 15.
QByteArray respuesta(int d, int m, int y, int hh, int mm, int ss) {
    QByteArray r("CXd");
    for (const auto& [valor, etiqueta] :
         {std::pair{d, 'm'}, {m, 'y'}, {y, 'h'}, {hh, 'n'}, {mm, 's'}, {ss, 'S'}}) {
        r += static_cast<char>(quarvel::bcd(valor));
        r += etiqueta;
    }
    return r;
}

class Checker : public ::testing::Test {
protected:
    void SetUp() override {
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
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
        form = std::make_unique<Form1>(e);
        form->Form_Load();
        return *form;
    }
    // Ticks the 100 ms display timer n times.
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            form->Timer2_Timer();
    }
    // Runs a complete update as Timer1 and Timer4 would.
    void actualizar() {
        form->Timer1_Timer();
        for (int i = 0; i < 8 && form->Timer4->Enabled(); ++i)
            form->Timer4_Timer();
    }
    // Sets the shown time and starts a check as the scheduler does at 31.
    void chequear(int d, int m, int y, int hh, int mm) {
        hora.fijar(d, m, y, hh, mm, 31);
        form->contador_reloj = 9;
        form->chekeo_pendiente = 1;
        form->Timer2_Timer();
    }

    struct Llamada {
        std::uint32_t mensaje;
        NotifyIconData datos;
    };
    CarpetaTemporal dir;
    PuertoFalso puerto;
    HoraFija hora;
    CajaFalsa caja;
    QByteArray contestar;
    bool hay_bandeja = true;
    std::vector<Llamada> llamadas;
    std::unique_ptr<Form1> form;
};

} // namespace

TEST_F(Checker, StartUpAddsTheTrayIconAndArmsTheFirstUpdate) {
    Form1& f = cargar();
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_EQ(f.windowTitle(), "Quarvel 4.3");
    EXPECT_EQ(f.Text1->text(), "14:05:07");
    EXPECT_EQ(f.Text4->text(), "05/12/2008");
    EXPECT_EQ(f.Text3->text(), "14:05:07");
    EXPECT_EQ(f.Timer4->Interval(), 100);
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_FALSE(f.Timer4->Enabled());
    EXPECT_EQ(f.estado_chekeo, 3);
    EXPECT_EQ(f.parpadeo_activo, 1);
    EXPECT_EQ(f.Label4->text(), "Enviando");
    EXPECT_EQ(f.Panels[3]->text(), "9600");
    EXPECT_FALSE(puerto.PortOpen());
    EXPECT_TRUE(f.enBandeja());
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
}

TEST_F(Checker, WithoutATrayTheWindowStaysUntilOneComes) {
    hay_bandeja = false;
    Form1& f = cargar();
    f.show();
    EXPECT_FALSE(f.enBandeja());
    EXPECT_TRUE(llamadas.empty());
    f.reintentar_bandeja();
    EXPECT_TRUE(f.isVisible());
    // A panel that starts late still gets the icon and the window hides.
    hay_bandeja = true;
    EXPECT_TRUE(f.reintentar_bandeja());
    EXPECT_TRUE(f.enBandeja());
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(llamadas.size(), 1u);
    EXPECT_EQ(llamadas[0].mensaje, quarvel::NIM_ADD);
}

TEST_F(Checker, MissingIntervalFileLeavesOnlyTheDisplay) {
    QFile::remove("qv_int.ini");
    Form1& f = cargar();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Inicio");
    EXPECT_TRUE(caja.mensajes[0].texto.contains("qv_int.ini"));
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_FALSE(f.estado_chekeo.has_value());
    EXPECT_TRUE(llamadas.empty());
    EXPECT_FALSE(f.enBandeja());
    ticks(10);
    EXPECT_EQ(f.Text1->text(), "14:05:07");
    EXPECT_TRUE(f.Command1->isEnabled());
}

TEST_F(Checker, CompleteUpdateSendsEightStepsAndClosesThePort) {
    Form1& f = cargar();
    actualizar();
    EXPECT_EQ(
        puerto.escrituras(),
        (std::vector<QByteArray>{QByteArray("D\x05", 2), "M\x12", QByteArray("Y\x08", 2), "H\x14",
                                 QByteArray("m\x05", 2), QByteArray("S\x08", 2), "CW", "CF"}));
    EXPECT_FALSE(puerto.PortOpen());
    EXPECT_FALSE(f.Timer4->Enabled());
    EXPECT_EQ(f.estado_chekeo, 3);

    // Second 59 stays 59; "Cambiar" ticked restores time only.
    puerto.limpiar();
    f.Check1->setChecked(true);
    f.Text1->setText("23:59:59");
    actualizar();
    EXPECT_EQ(puerto.escrituras()[5], QByteArray("S\x59", 2));
    EXPECT_EQ(puerto.escrituras()[7], "CH");
}

TEST_F(Checker, UpdateSendsTheTimeOfItsFirstStepAcrossAMinuteChange) {
    Form1& f = cargar();
    f.Text1->setText("14:05:59");
    f.Timer1_Timer();
    f.Timer4_Timer();
    // The display turns to the next minute and day while the steps run.
    f.Text1->setText("14:06:00");
    f.Text4->setText("06/12/2008");
    for (int i = 0; i < 7; ++i)
        f.Timer4_Timer();
    const auto w = puerto.escrituras();
    ASSERT_EQ(w.size(), 8u);
    EXPECT_EQ(w[0], QByteArray("D\x05", 2));
    EXPECT_EQ(w[1], "M\x12");
    EXPECT_EQ(w[4], QByteArray("m\x05", 2));
    EXPECT_EQ(w[5], QByteArray("S\x59", 2));
}

TEST_F(Checker, ChecksFallDueByIntervalCount) {
    for (const auto& [intervalo, esperado] : {std::pair{"5", 2701}, {"2", 900}}) {
        CarpetaTemporal::escribir("qv_int.ini", QByteArray(intervalo) + "\r\n");
        cargar();
        form->Timer1->setEnabled(false);
        int n = 0;
        while (form->chekeo_pendiente != 1 && n < 10000) {
            form->Timer2_Timer();
            ++n;
        }
        EXPECT_EQ(n, esperado) << intervalo;
        // Due, it waits for second 31: still pending at 14:05:07.
        ticks(20);
        EXPECT_EQ(form->chekeo_pendiente, 1);
        EXPECT_EQ(form->Label7->text(), "0");
    }
}

TEST_F(Checker, RightClockLeavesNoLineAndKeepsTheRawReply) {
    Form1& f = cargar();
    actualizar();
    contestar = QByteArray("CXd\x05m\x12y\x08h\x14n\x05S\x33", 14);
    chequear(5, 12, 2008, 14, 5);
    EXPECT_EQ(f.Text3->text(), "14:05:31");
    EXPECT_EQ(puerto.escrituras().back(), "CX");
    EXPECT_TRUE(puerto.PortOpen());
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(f.estado_chekeo, 3);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), contestar + "\r\n");
    EXPECT_EQ(f.Label7->text(), "1");
    EXPECT_EQ(f.Label8->text(), "1");
    EXPECT_FALSE(f.Timer1->Enabled());
}

TEST_F(Checker, MinuteOf53EndsTheWaitEarlyAndStillDecodes) {
    Form1& f = cargar();
    const QByteArray completa = respuesta(5, 12, 8, 14, 53, 33);
    contestar = completa.left(12);
    chequear(5, 12, 2008, 14, 53);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), completa.left(12) + "\r\n");
    EXPECT_EQ(puerto.esperas, 1);
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(f.estado_chekeo, 3);
}

TEST_F(Checker, SlowClockIsLoggedAndSetAgain) {
    Form1& f = cargar();
    contestar = respuesta(5, 12, 8, 14, 4, 51);
    chequear(5, 12, 2008, 14, 5);
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt"),
              QByteArray("fecha reloj : 05/12/2008  fecha prog : 05/12/2008  hora reloj : "
                         "14:04:51  hora prog : 14:05:31\r\n"));
    EXPECT_EQ(f.estado_chekeo, 0);
    EXPECT_TRUE(f.Timer1->Enabled());
    puerto.limpiar();
    actualizar();
    EXPECT_EQ(puerto.eventos.front().tipo, Tipo::Cerrar) << "the read-back left it open";
    EXPECT_EQ(puerto.escrituras().size(), 8u);
    EXPECT_EQ(puerto.escrituras()[5], QByteArray("S\x32", 2));
    EXPECT_EQ(f.estado_chekeo, 3);

    // A second mismatch appends.
    chequear(5, 12, 2008, 14, 5);
    EXPECT_EQ(CarpetaTemporal::leer("sincro.txt").count("\r\n"), 2);
}

TEST_F(Checker, Year2031IsReadAsThisCentury) {
    cargar();
    contestar = respuesta(5, 12, 31, 9, 0, 33);
    chequear(5, 12, 2031, 9, 0);
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(form->estado_chekeo, 3);
}

TEST_F(Checker, NoReplyWaitsTheBoundedPassesAndLogsAMismatch) {
    Form1& f = cargar();
    chequear(5, 12, 2008, 14, 5);
    EXPECT_EQ(puerto.esperas, 2000);
    EXPECT_EQ(CarpetaTemporal::leer("salida.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(CarpetaTemporal::leer("sincro.txt")
                    .startsWith("fecha reloj : 0/0/0  fecha prog : 05/12/2008"));
    EXPECT_TRUE(f.Timer1->Enabled());
}

TEST_F(Checker, InicioRestartsAnUpdateAndResumesCheckingAfterALongParar) {
    Form1& f = cargar();
    f.Timer1_Timer();
    f.Timer4_Timer();
    f.Timer4_Timer();
    f.Command1_Click();
    EXPECT_EQ(f.paso_actualizacion, 0);
    f.Timer4_Timer();
    EXPECT_EQ(puerto.escrituras().back(), QByteArray("D\x05", 2));

    f.Command2_Click();
    EXPECT_EQ(f.Label4->text(), "");
    EXPECT_EQ(f.estado_chekeo, 0);
    ticks(600 * 5 + 400);
    EXPECT_NE(f.chekeo_pendiente, 1);
    f.Command1_Click();
    EXPECT_EQ(f.estado_chekeo, 3);
    ticks(2701);
    EXPECT_EQ(f.chekeo_pendiente, 1);
}

TEST_F(Checker, TrayClickPopsTheMenuAndRestaurarShowsTheWindow) {
    Form1& f = cargar();
    EXPECT_FALSE(f.isVisible());
    f.mensajeBandeja(quarvel::WM_MOUSEMOVE, 1);
    EXPECT_TRUE(f.menu->isVisible());
    f.menu->hide();
    f.Form_MouseMove(3, 0, 0, 0);
    EXPECT_FALSE(f.menu->isVisible());
    ASSERT_EQ(f.menu->actions().size(), 1);
    EXPECT_EQ(f.menu->actions()[0]->text(), "Restaurar");
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
    puerto.al_escribir = [&f](const QByteArray& b) {
        if (b == "CX")
            QTimer::singleShot(0, &f, [&f] { f.close(); });
    };
    chequear(5, 12, 2008, 14, 5);
    EXPECT_LT(puerto.esperas, 5);
    EXPECT_FALSE(QFile::exists("sincro.txt"));
    EXPECT_EQ(CarpetaTemporal::leer("qv_int.ini"), QByteArray("5\r\n"));
    EXPECT_EQ(llamadas.back().mensaje, quarvel::NIM_DELETE);
}

TEST_F(Checker, PortFailureIsShownInTheTipAndCheckingGoesOn) {
    Form1& f = cargar();
    puerto.fallo_apertura =
        QStringLiteral("El puerto COM1 (/dev/ttyS0) esta en uso por otro programa");
    actualizar();
    EXPECT_TRUE(caja.mensajes.empty());
    EXPECT_EQ(f.StatusBar1->currentMessage(), puerto.fallo_apertura);
    ASSERT_EQ(llamadas.size(), 2u) << "one report for the whole update";
    EXPECT_EQ(llamadas[1].mensaje, quarvel::NIM_MODIFY);
    EXPECT_TRUE(QByteArray(llamadas[1].datos.szTip).startsWith("Quarvel 4.3: El puerto COM1"));
    EXPECT_EQ(f.estado_chekeo, 3);
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
    Form1& f = cargar();
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

TEST_F(Checker, HiddenCountersStayWholeNumbers) {
    Form1& f = cargar();
    f.Label8->setText("999999");
    contestar = respuesta(5, 12, 8, 14, 5, 33);
    chequear(5, 12, 2008, 14, 5);
    EXPECT_EQ(f.Label8->text(), "1000000");
}

TEST_F(Checker, DisplayFindsItsSecondAgainAfterLostTicks) {
    quarvel::HoraDelSistema reloj;
    auto form = checker_quieto(puerto, reloj, caja);
    Form1& f = *form;
    f.Timer2->setEnabled(true);
    esperar_eventos(1300);
    // Knock the tick count out of step, as ticks lost behind a slow handler
    // would.
    f.contador_reloj = 4;
    std::vector<int> ms;
    QObject::connect(f.Text1, &QLineEdit::textChanged,
                     [&ms] { ms.push_back(QTime::currentTime().msec()); });
    esperar_eventos(2300);
    ASSERT_GE(ms.size(), 2u);
    // Refreshes come right after the second changes, not at .500; one late
    // tick on a loaded machine is allowed.
    const auto a_tiempo = std::count_if(ms.begin(), ms.end(), [](int m) { return m < 200; });
    EXPECT_GE(a_tiempo, static_cast<long>(ms.size()) - 1) << "first refresh at ." << ms[0];
}
