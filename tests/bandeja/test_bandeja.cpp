// The checker's tray icon on the StatusNotifierItem protocol, on a private
// session bus (the test runs under dbus-run-session) with a watcher of the
// tests' own; the test talks to the item over the bus as a panel would.
#include "platform/gui/item_sni.h"
#include "platform/temporizador.h"
#include "tests/ventanas.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <gtest/gtest.h>

using quarvel::ElementoMenuSni;
using quarvel::PixmapsSni;
using quarvel::ToolTipSni;

namespace {

class Bandeja : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: run under dbus-run-session";
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
    }
    void TearDown() override {
        form.reset();
        vigilante.kill();
        vigilante.waitForFinished(2000);
    }
    void iniciar_vigilante(const QStringList& opciones = {}) {
        vigilante.start(QStringLiteral(QUARVEL_VIGILANTE), opciones);
        ASSERT_TRUE(esperar([this] { return salida().contains("listo"); }));
    }
    QString salida() {
        visto += QString::fromLocal8Bit(vigilante.readAllStandardOutput());
        return visto;
    }
    quarvel430::Form1& cargar() {
        quarvel430::Entorno e;
        e.puerto = &puerto;
        e.hora = &hora;
        e.mensajes = &caja;
        form = std::make_unique<quarvel430::Form1>(e);
        form->Form_Load();
        form->Timer1->setEnabled(false);
        if (!form->enBandeja())
            form->show();
        return *form;
    }
    static bool esperar(const std::function<bool()>& listo, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!listo() && t.elapsed() < ms)
            esperar_eventos(20);
        return listo();
    }
    // As a panel asks: from a connection of its own.
    QDBusMessage llamar(const QString& ruta, const QString& interfaz, const QString& metodo,
                        const QVariantList& argumentos) {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio(), ruta, interfaz, metodo);
        m.setArguments(argumentos);
        return panel.call(m, QDBus::BlockWithGui, 3000);
    }
    QVariant propiedad(const QString& nombre) {
        const QDBusMessage r =
            llamar(QStringLiteral("/StatusNotifierItem"),
                   QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                   {QStringLiteral("org.kde.StatusNotifierItem"), nombre});
        return r.arguments().isEmpty()
                   ? QVariant()
                   : qvariant_cast<QDBusVariant>(r.arguments().constFirst()).variant();
    }
    QString servicio() {
        const QString linea =
            salida().section(QStringLiteral("registrado "), 1).section(u'\n', 0, 0);
        return linea.section(u'/', 0, 0);
    }

    CarpetaTemporal dir;
    QProcess vigilante;
    QString visto;
    QDBusConnection panel =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("panel"));
    RelojVirtual hora;
    PuertoFalso puerto{&hora};
    CajaFalsa caja;
    std::unique_ptr<quarvel430::Form1> form;
};

} // namespace

TEST_F(Bandeja, AWatcherThatComesLateStillGetsTheIcon) {
    auto& f = cargar();
    EXPECT_FALSE(f.enBandeja());
    EXPECT_TRUE(f.isVisible());
    iniciar_vigilante();
    EXPECT_TRUE(esperar([&] { return f.enBandeja(); }));
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(
        esperar([this] { return salida().contains("registrado org.kde.StatusNotifierItem-"); }));
}

TEST_F(Bandeja, AnItemTheWatcherRefusesIsNoIconAndTheWindowStays) {
    iniciar_vigilante({QStringLiteral("--rechaza")});
    auto& f = cargar();
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));
}

TEST_F(Bandeja, AHungWatcherNeverHoldsUpTheWindow) {
    iniciar_vigilante({QStringLiteral("--mudo")});
    QElapsedTimer t;
    t.start();
    auto& f = cargar();
    // Its retries for the tray, each of which waited on the bus before.
    for (int i = 0; i < 6; ++i) {
        f.reintentar_bandeja();
        QCoreApplication::processEvents();
    }
    EXPECT_LT(t.elapsed(), 1500);
}

TEST_F(Bandeja, ATrayThatGoesBringsTheWindowBackAndOneThatComesTakesTheIconAgain) {
    iniciar_vigilante();
    auto& f = cargar();
    ASSERT_TRUE(esperar([&] { return salida().contains("registrado"); }));
    ASSERT_FALSE(f.isVisible());
    vigilante.kill();
    vigilante.waitForFinished(2000);
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));
    visto.clear();
    iniciar_vigilante();
    EXPECT_TRUE(esperar([&] { return salida().contains("registrado"); }));
    EXPECT_TRUE(f.isVisible()) << "the window stays as the user left it";
}

TEST_F(Bandeja, TheItemShowsItsNameIconAndWholeFailureAndItsMenuRestores) {
    iniciar_vigilante();
    auto& f = cargar();
    ASSERT_TRUE(esperar([&] { return f.enBandeja(); }));
    ASSERT_TRUE(esperar([this] { return !servicio().isEmpty(); }));
    EXPECT_EQ(propiedad("Status").toString(), "Active");

    EXPECT_EQ(propiedad("Title").toString(), "Quarvel 4.3");
    EXPECT_EQ(propiedad("IconName").toString(), "io.github.quarvel.Quarvel");
    QList<int> lados;
    for (const auto& p : qdbus_cast<PixmapsSni>(propiedad("IconPixmap")))
        lados << p.ancho;
    EXPECT_EQ(lados, (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));

    // A failure longer than the 64-byte tip shows whole in the tooltip.
    const QString fallo = QStringLiteral("Sin permiso para abrir el puerto COM1 (/dev/ttyS0): "
                                         "agregue su usuario al grupo dialout");
    puerto.fallo_apertura = fallo;
    f.Timer1_Timer();
    const auto tip = qdbus_cast<ToolTipSni>(propiedad("ToolTip"));
    EXPECT_EQ(tip.titulo, "Quarvel 4.3");
    EXPECT_EQ(tip.texto, fallo);
    // It asks for attention, with an icon of its own, until a read-back
    // finds the clock right.
    EXPECT_EQ(propiedad("Status").toString(), "NeedsAttention");
    EXPECT_FALSE(qdbus_cast<PixmapsSni>(propiedad("AttentionIconPixmap")).isEmpty());
    hora.avanzar(4000);
    puerto.fallo_apertura.clear();
    puerto.al_escribir = [this](const QByteArray& b) {
        if (b == "CX")
            puerto.recibir(respuesta(5, 12, 26, 19, 33, 31));
    };
    chequear(f, hora, QDateTime(QDate(2026, 12, 5), QTime(19, 33, 31)));
    EXPECT_EQ(propiedad("Status").toString(), "Active");
    EXPECT_TRUE(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).texto.contains("en hora"));

    // A click pops the menu; the panel's own menu holds "Restaurar", which
    // brings the window back.
    llamar(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
           QStringLiteral("Activate"), {0, 0});
    EXPECT_TRUE(esperar([&] { return f.menu->isVisible(); }));
    f.menu->hide();
    const QDBusMessage r =
        llamar(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
               QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(r.arguments().size(), 2);
    const auto arbol = qdbus_cast<ElementoMenuSni>(r.arguments()[1]);
    ASSERT_EQ(arbol.hijos.size(), 2);
    EXPECT_EQ(arbol.hijos[0].propiedades.value("label").toString(), "Restaurar");
    EXPECT_EQ(arbol.hijos[1].propiedades.value("label").toString(), "Historial");
    // As XFCE's panel sends it.
    quarvel::EventoMenuSni clic{arbol.hijos[0].id, QStringLiteral("clicked"),
                                QDBusVariant(QVariant(0)), 0};
    const QDBusMessage evento = llamar(
        QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
        QStringLiteral("EventGroup"), {QVariant::fromValue(QList<quarvel::EventoMenuSni>{clic})});
    EXPECT_EQ(evento.type(), QDBusMessage::ReplyMessage) << evento.errorMessage().toStdString();
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));

    // A flood of clicks in one call is cut short: one click at a time.
    int pulsado = 0;
    QObject::connect(f.restaurar, &QAction::triggered, [&pulsado] { ++pulsado; });
    const QDBusMessage inundacion =
        llamar(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
               QStringLiteral("EventGroup"),
               {QVariant::fromValue(QList<quarvel::EventoMenuSni>(20000, clic))});
    EXPECT_EQ(inundacion.type(), QDBusMessage::ReplyMessage);
    esperar_eventos(200);
    EXPECT_EQ(pulsado, 1);
}
