// The tray on the StatusNotifierItem protocol, on a private session bus (the
// test runs under dbus-run-session) with a watcher of the tests' own; the
// test talks to the item over the bus as a panel would. The icon itself,
// the checker's notify-icon record on it, and the checker window on both.
#include "checker/bandeja_form.h"
#include "platform/gui/bandeja.h"
#include "platform/gui/controles.h"
#include "platform/gui/item_sni.h"
#include "platform/temporizador.h"
#include "tests/ventanas.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <gtest/gtest.h>

using quarvel::ElementoMenuSni;
using quarvel::NotifyIconData;
using quarvel::PixmapsSni;
using quarvel::ToolTipSni;

namespace {

const QString kItem = QStringLiteral("/StatusNotifierItem");
const QString kInterfazItem = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenu = QStringLiteral("/MenuBar");
const QString kInterfazMenu = QStringLiteral("com.canonical.dbusmenu");

class Bandeja : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus: run under dbus-run-session";
        // The last test's watcher is gone for the icons too.
        ASSERT_TRUE(esperar([] { return !quarvel::bandeja_disponible(); }));
    }
    void TearDown() override {
        form.reset();
        vigilante.kill();
        vigilante.waitForFinished(2000);
    }
    void iniciar_vigilante(const QStringList& opciones = {}) {
        visto.clear();
        vigilante.start(QStringLiteral(QUARVEL_VIGILANTE), opciones);
        ASSERT_TRUE(esperar([this] { return salida().contains("listo"); }));
    }
    // A watcher with a host, as the icons have heard of it.
    void iniciar_panel(const QStringList& opciones = {}) {
        iniciar_vigilante(opciones);
        ASSERT_TRUE(esperar([] { return quarvel::bandeja_disponible(); }));
    }
    void parar_vigilante() {
        vigilante.kill();
        vigilante.waitForFinished(2000);
    }
    QString salida() {
        visto += QString::fromLocal8Bit(vigilante.readAllStandardOutput());
        return visto;
    }
    static bool esperar(const std::function<bool()>& listo, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!listo() && t.elapsed() < ms)
            esperar_eventos(20);
        return listo();
    }
    // The items the watcher took, in order.
    QStringList servicios() {
        QStringList r;
        for (const QString& linea : salida().split(u'\n'))
            if (linea.startsWith(QStringLiteral("vigilante: registrado ")))
                r << linea.section(u' ', 2).section(u'/', 0, 0);
        return r;
    }
    bool tomado(int n = 1) {
        return esperar([&] { return servicios().size() >= n; });
    }
    // As a panel asks the last item taken: from a connection of its own.
    QDBusMessage llamar(const QString& ruta, const QString& interfaz, const QString& metodo,
                        const QVariantList& argumentos) {
        QDBusMessage m = QDBusMessage::createMethodCall(servicios().value(servicios().size() - 1),
                                                        ruta, interfaz, metodo);
        m.setArguments(argumentos);
        return panel.call(m, QDBus::BlockWithGui, 3000);
    }
    QVariant propiedad(const QString& nombre) {
        const QDBusMessage r = llamar(kItem, QStringLiteral("org.freedesktop.DBus.Properties"),
                                      QStringLiteral("Get"), {kInterfazItem, nombre});
        return r.arguments().isEmpty()
                   ? QVariant()
                   : qvariant_cast<QDBusVariant>(r.arguments().constFirst()).variant();
    }
    QList<int> lados(const QString& nombre) {
        QList<int> r;
        for (const auto& p : qdbus_cast<PixmapsSni>(propiedad(nombre)))
            r << p.ancho;
        return r;
    }
    QStringList etiquetas_menu() {
        const QDBusMessage r =
            llamar(kMenu, kInterfazMenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QStringList e;
        if (r.arguments().size() == 2)
            for (const auto& hijo : qdbus_cast<ElementoMenuSni>(r.arguments()[1]).hijos)
                e << hijo.propiedades.value("label").toString();
        return e;
    }
    quarvel430::Form1& cargar() {
        CarpetaTemporal::escribir("qv_int.ini", "5\r\n");
        CarpetaTemporal::escribir("qv.ini", qv_ini("1", "9600,N,8,1"));
        quarvel430::Entorno e;
        e.puerto = &puerto;
        e.hora = &hora;
        e.mensajes = &caja;
        form = std::make_unique<quarvel430::Form1>(e);
        form->Form_Load();
        form->Timer1->setEnabled(false);
        if (!form->en_bandeja())
            form->show();
        return *form;
    }

    QProcess vigilante;
    QString visto;
    QDBusConnection panel =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("panel"));
    CarpetaTemporal dir;
    RelojVirtual hora;
    PuertoFalso puerto{&hora};
    CajaFalsa caja;
    std::unique_ptr<quarvel430::Form1> form;
};

// The signals a panel hears from an item, by name.
class Escucha : public QObject {
    Q_OBJECT
public:
    QStringList oidas;
public slots:
    void oir(const QDBusMessage& m) { oidas << m.member(); }
};

// What an icon's user hears from it.
struct Oyente {
    explicit Oyente(quarvel::IconoBandeja& icono) {
        QObject::connect(&icono, &quarvel::IconoBandeja::pulsado, [this] { ++pulsado; });
        QObject::connect(&icono, &quarvel::IconoBandeja::visibilidad,
                         [this](bool v) { visibles << v; });
    }
    int pulsado = 0;
    QList<bool> visibles;
};

// --- The icon -----------------------------------------------------------------

TEST_F(Bandeja, WithoutATrayNothingShowsAndAWatcherThatComesLateIsToldAndTakesTheIcon) {
    auto icono = quarvel::crear_icono_bandeja();
    EXPECT_FALSE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
    QObject contexto;
    bool llego = false;
    quarvel::al_llegar_bandeja(&contexto, [&llego] { llego = true; });
    iniciar_vigilante();
    ASSERT_TRUE(esperar([&] { return llego; }));
    EXPECT_TRUE(quarvel::bandeja_disponible());
    EXPECT_TRUE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
    EXPECT_TRUE(tomado());
}

TEST_F(Bandeja, ARefusedOrLostItemIsNotVisibleAndAWatcherThatComesTakesItAgain) {
    {
        iniciar_panel({QStringLiteral("--rechaza")});
        auto icono = quarvel::crear_icono_bandeja();
        Oyente oyente(*icono);
        // Unanswered yet: it counts as shown.
        EXPECT_TRUE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
        EXPECT_TRUE(esperar([&] { return oyente.visibles == QList<bool>{false}; }));
        parar_vigilante();
    }
    ASSERT_TRUE(esperar([] { return !quarvel::bandeja_disponible(); }));
    iniciar_panel();
    auto icono = quarvel::crear_icono_bandeja();
    Oyente oyente(*icono);
    ASSERT_TRUE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
    ASSERT_TRUE(tomado());
    EXPECT_TRUE(oyente.visibles.isEmpty()) << "taken as shown: nothing to tell";
    parar_vigilante();
    EXPECT_TRUE(esperar([&] { return oyente.visibles == QList<bool>{false}; }));
    iniciar_vigilante();
    EXPECT_TRUE(tomado());
    EXPECT_TRUE(esperar([&] { return oyente.visibles == (QList<bool>{false, true}); }));
}

TEST_F(Bandeja, AHungWatcherNeverHoldsUpTheIcon) {
    iniciar_vigilante({QStringLiteral("--mudo")});
    QElapsedTimer t;
    t.start();
    // A window's retries for the tray, each of which waited on the bus before.
    for (int i = 0; i < 6; ++i) {
        quarvel::bandeja_disponible();
        quarvel::crear_icono_bandeja()->mostrar(quarvel::icono_programa(), QString());
        QCoreApplication::processEvents();
    }
    EXPECT_LT(t.elapsed(), 1500);
}

TEST_F(Bandeja, ThePanelReadsTheTitleIconsTipAndStatusAndHearsOfChanges) {
    iniciar_panel();
    auto icono = quarvel::crear_icono_bandeja();
    icono->fijar_tip(QStringLiteral("Quarvel 4.3: corto"), QString());
    ASSERT_TRUE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
    ASSERT_TRUE(tomado());
    Escucha escucha;
    for (const char* senal : {"NewTitle", "NewIcon", "NewToolTip", "NewStatus"})
        panel.connect(servicios().constFirst(), kItem, kInterfazItem, QString::fromLatin1(senal),
                      &escucha, SLOT(oir(QDBusMessage)));
    EXPECT_EQ(propiedad("Title").toString(), "Quarvel 4.3");
    EXPECT_EQ(propiedad("IconName").toString(), "io.github.quarvel.Quarvel");
    const QList<int> todos{16, 22, 24, 32, 48, 64, 128, 256};
    EXPECT_EQ(lados("IconPixmap"), todos);
    EXPECT_EQ(lados("AttentionIconPixmap"), todos);
    EXPECT_EQ(propiedad("Status").toString(), "Active");
    // The item's tooltip is the title over the whole detail; the short tip
    // is for trays with a single line.
    auto tip = qdbus_cast<ToolTipSni>(propiedad("ToolTip"));
    EXPECT_EQ(tip.titulo, "Quarvel 4.3");
    EXPECT_EQ(tip.texto, "");
    const QString largo = QStringLiteral("Sin permiso para abrir el puerto COM1 (/dev/ttyS0): "
                                         "agregue su usuario al grupo dialout");
    icono->fijar_tip(QStringLiteral("Quarvel 4.3: Sin permiso"), largo);
    EXPECT_EQ(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).texto, largo);

    icono->fijar_atencion(true);
    EXPECT_EQ(propiedad("Status").toString(), "NeedsAttention");
    icono->fijar_atencion(false);
    EXPECT_EQ(propiedad("Status").toString(), "Active");

    // Shown again: another name and image on the same item.
    QPixmap pequeno(32, 32);
    pequeno.fill(Qt::red);
    ASSERT_TRUE(icono->mostrar(QIcon(pequeno), QStringLiteral("Otro")));
    EXPECT_EQ(propiedad("Title").toString(), "Otro");
    EXPECT_EQ(lados("IconPixmap"), (QList<int>{16, 22, 24, 32}));
    EXPECT_EQ(servicios().size(), 1);
    // Told of each change, so the panel reads it again.
    QStringList cambios{"NewToolTip", "NewStatus", "NewStatus",
                        "NewIcon",    "NewTitle",  "NewToolTip"};
    cambios.sort();
    EXPECT_TRUE(esperar([&] {
        escucha.oidas.sort();
        return escucha.oidas == cambios;
    })) << escucha.oidas.join(u' ').toStdString();
}

TEST_F(Bandeja, AClickIsPulsadoAndThePanelsMenuIsTheOneSetAndTakesOneClickAtATime) {
    iniciar_panel();
    QMenu primero, menu;
    primero.addAction(QStringLiteral("Uno"));
    QAction* restaurar = menu.addAction(QStringLiteral("&Restaurar"));
    menu.addAction(QStringLiteral("Historial"));
    auto icono = quarvel::crear_icono_bandeja();
    Oyente oyente(*icono);
    icono->fijar_menu(&primero);
    ASSERT_TRUE(icono->mostrar(quarvel::icono_programa(), QStringLiteral("Quarvel 4.3")));
    ASSERT_TRUE(tomado());
    EXPECT_EQ(etiquetas_menu(), QStringList{"Uno"});
    icono->fijar_menu(&menu);
    EXPECT_EQ(etiquetas_menu(), (QStringList{"_Restaurar", "Historial"}));

    // Activate (a click) and ContextMenu (the panel's request): both are the
    // window's to answer.
    for (const char* metodo : {"Activate", "ContextMenu"})
        llamar(kItem, kInterfazItem, QString::fromLatin1(metodo), {0, 0});
    EXPECT_EQ(oyente.pulsado, 2);

    int pulsado = 0;
    QObject::connect(restaurar, &QAction::triggered, [&pulsado] { ++pulsado; });
    // As XFCE's panel sends it; a flood of clicks in one call is cut short.
    const quarvel::EventoMenuSni clic{1, QStringLiteral("clicked"), QDBusVariant(QVariant(0)), 0};
    for (qsizetype n : {1, 20000}) {
        pulsado = 0;
        const QDBusMessage r =
            llamar(kMenu, kInterfazMenu, QStringLiteral("EventGroup"),
                   {QVariant::fromValue(QList<quarvel::EventoMenuSni>(n, clic))});
        EXPECT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
        EXPECT_TRUE(esperar([&] { return pulsado > 0; }));
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(pulsado, 1) << n << " clicks";
    }
}

// --- The checker's notify-icon record on it --------------------------------

// Registered while it lives.
class ReceptorFalso : public quarvel::ReceptorBandeja {
public:
    ReceptorFalso() { menu.addAction(QStringLiteral("Restaurar")); }
    ~ReceptorFalso() override { quarvel::olvidar_ventana(hwnd); }
    void mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) override {
        mensajes << std::make_pair(mensaje, id);
    }
    QString tituloBandeja() const override { return QStringLiteral("Reloj"); }
    QMenu* menuBandeja() override { return &menu; }
    void iconoVisible(bool visible) override { visibles << visible; }

    QMenu menu;
    const std::uint32_t hwnd = quarvel::registrar_ventana(this);
    QList<std::pair<std::uint32_t, std::uint32_t>> mensajes;
    QList<bool> visibles;
};

NotifyIconData registro_de(std::uint32_t hwnd, std::uint32_t id, std::uint32_t flags,
                           std::uint32_t hicon, const char* tip = "") {
    NotifyIconData d;
    d.cbSize = sizeof d;
    d.hWnd = hwnd;
    d.uID = id;
    d.uFlags = flags;
    d.uCallbackMessage = quarvel::WM_MOUSEMOVE;
    d.hIcon = hicon;
    qstrncpy(d.szTip, tip, sizeof d.szTip);
    return d;
}

TEST_F(Bandeja, TheRecordActsOnlyOnTheWindowsAndIconsItKnows) {
    iniciar_panel();
    ReceptorFalso ventana;
    const std::uint32_t hwnd = ventana.hwnd;
    const std::uint32_t hicon = quarvel::registrar_icono(quarvel::icono_programa());
    const NotifyIconData bueno = registro_de(hwnd, 1, quarvel::NIF_ICON, hicon);
    NotifyIconData sin_tamano = bueno;
    sin_tamano.cbSize = 0;
    const NotifyIconData otra_ventana = registro_de(hwnd + 1000, 1, quarvel::NIF_ICON, hicon);
    const NotifyIconData otro_id = registro_de(hwnd, 2, quarvel::NIF_ICON, hicon);
    struct Caso {
        std::uint32_t mensaje;
        const NotifyIconData* datos;
        bool esperado;
        const char* que;
    };
    const Caso casos[] = {
        {quarvel::NIM_ADD, nullptr, false, "no record"},
        {quarvel::NIM_ADD, &sin_tamano, false, "a record of another size"},
        {quarvel::NIM_ADD, &otra_ventana, false, "a window never registered"},
        {quarvel::NIM_MODIFY, &bueno, false, "changing an icon not added"},
        {quarvel::NIM_DELETE, &bueno, false, "removing an icon not added"},
        {quarvel::NIM_ADD, &bueno, true, "adding"},
        {quarvel::NIM_ADD, &bueno, false, "adding it twice"},
        {3, &bueno, false, "a message the shell does not know"},
        {quarvel::NIM_MODIFY, &otro_id, false, "changing another number"},
        {quarvel::NIM_MODIFY, &bueno, true, "changing it"},
        {quarvel::NIM_DELETE, &bueno, true, "removing it"},
        {quarvel::NIM_MODIFY, &bueno, false, "changing it once removed"},
        {quarvel::NIM_DELETE, &bueno, false, "removing it twice"},
        {quarvel::NIM_ADD, &bueno, true, "adding it again"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(quarvel::Shell_NotifyIconA(c.mensaje, c.datos), c.esperado) << c.que;
    ASSERT_TRUE(tomado(2));
    // A window forgotten takes its icon off the bus, and the record no
    // longer knows either.
    const QString servicio = servicios().last();
    EXPECT_TRUE(panel.interface()->isServiceRegistered(servicio).value());
    quarvel::olvidar_ventana(hwnd);
    EXPECT_FALSE(panel.interface()->isServiceRegistered(servicio).value());
    EXPECT_FALSE(quarvel::Shell_NotifyIconA(quarvel::NIM_MODIFY, &bueno));
    EXPECT_FALSE(quarvel::Shell_NotifyIconA(quarvel::NIM_ADD, &bueno));
}

TEST_F(Bandeja, TheRecordsIconSpeaksToItsWindowWithTheCallbackAndItsNumber) {
    iniciar_panel();
    ReceptorFalso ventana;
    const std::uint32_t hicon = quarvel::registrar_icono(quarvel::icono_programa());
    using quarvel::NIF_ICON, quarvel::NIF_MESSAGE, quarvel::NIF_TIP;
    // Without NIF_MESSAGE its clicks reach nobody.
    const NotifyIconData mudo = registro_de(ventana.hwnd, 7, NIF_ICON, hicon);
    ASSERT_TRUE(quarvel::Shell_NotifyIconA(quarvel::NIM_ADD, &mudo));
    ASSERT_TRUE(tomado(1));
    llamar(kItem, kInterfazItem, QStringLiteral("Activate"), {0, 0});
    EXPECT_TRUE(ventana.mensajes.isEmpty());
    ASSERT_TRUE(quarvel::Shell_NotifyIconA(quarvel::NIM_DELETE, &mudo));

    const NotifyIconData d =
        registro_de(ventana.hwnd, 1, NIF_MESSAGE | NIF_ICON | NIF_TIP, hicon, "Reloj");
    ASSERT_TRUE(quarvel::Shell_NotifyIconA(quarvel::NIM_ADD, &d));
    ASSERT_TRUE(tomado(2));
    EXPECT_EQ(propiedad("Title").toString(), "Reloj");
    EXPECT_EQ(etiquetas_menu(), QStringList{"Restaurar"});
    llamar(kItem, kInterfazItem, QStringLiteral("Activate"), {0, 0});
    EXPECT_EQ(ventana.mensajes,
              (QList<std::pair<std::uint32_t, std::uint32_t>>{{quarvel::WM_MOUSEMOVE, 1}}));

    // The detail and the attention reach the item; a tip changed after
    // keeps the detail.
    quarvel::detalle_bandeja(ventana.hwnd, 1, QStringLiteral("el reloj no contesta"));
    const NotifyIconData tip = registro_de(ventana.hwnd, 1, NIF_TIP, 0, "Reloj: no contesta");
    ASSERT_TRUE(quarvel::Shell_NotifyIconA(quarvel::NIM_MODIFY, &tip));
    EXPECT_EQ(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).texto, "el reloj no contesta");
    quarvel::atencion_bandeja(ventana.hwnd, 1, true);
    EXPECT_EQ(propiedad("Status").toString(), "NeedsAttention");

    // Another icon handle changes the image.
    QPixmap pequeno(32, 32);
    pequeno.fill(Qt::red);
    const NotifyIconData otro =
        registro_de(ventana.hwnd, 1, NIF_ICON, quarvel::registrar_icono(QIcon(pequeno)));
    ASSERT_TRUE(quarvel::Shell_NotifyIconA(quarvel::NIM_MODIFY, &otro));
    EXPECT_EQ(lados("IconPixmap"), (QList<int>{16, 22, 24, 32}));

    // The tray going is the window's to hear.
    parar_vigilante();
    EXPECT_TRUE(esperar([&] { return ventana.visibles == QList<bool>{false}; }));
}

// --- The checker window on it --------------------------------------------------

TEST_F(Bandeja, AnItemTheWatcherRefusesIsNoIconAndTheWindowStays) {
    iniciar_panel({QStringLiteral("--rechaza")});
    auto& f = cargar();
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));
}

TEST_F(Bandeja, ATrayThatGoesBringsTheWindowBackAndOneThatComesTakesTheIconAgain) {
    iniciar_panel();
    auto& f = cargar();
    ASSERT_TRUE(tomado());
    ASSERT_FALSE(f.isVisible());
    parar_vigilante();
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));
    iniciar_vigilante();
    EXPECT_TRUE(tomado());
    EXPECT_TRUE(f.isVisible()) << "the window stays as the user left it";
}

TEST_F(Bandeja, TheWindowsIconShowsTheWholeFailureAsksForAttentionAndItsMenuRestores) {
    iniciar_panel();
    auto& f = cargar();
    ASSERT_TRUE(f.en_bandeja());
    ASSERT_TRUE(tomado());
    // The port in the name: two checkers tell apart on the panel too.
    EXPECT_EQ(propiedad("Title").toString(), "Quarvel 4.3 (COM1)");
    EXPECT_EQ(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).titulo, "Quarvel 4.3 (COM1)");

    // A failure longer than the 64-byte tip shows whole in the tooltip, and
    // the icon asks for attention until a read-back finds the clock right.
    const QString fallo = QStringLiteral("Sin permiso para abrir el puerto COM1 (/dev/ttyS0): "
                                         "agregue su usuario al grupo dialout");
    puerto.fallo_apertura = fallo;
    f.Timer1_Timer();
    EXPECT_EQ(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).texto, fallo);
    EXPECT_EQ(propiedad("Status").toString(), "NeedsAttention");
    hora.avanzar(4000);
    puerto.fallo_apertura.clear();
    puerto.al_escribir = [this](const QByteArray& b) {
        if (b == "CX")
            puerto.recibir(respuesta(5, 12, 26, 19, 33, 31));
    };
    chequear(f, hora, QDateTime(QDate(2026, 12, 5), QTime(19, 33, 31)));
    EXPECT_EQ(propiedad("Status").toString(), "Active");
    EXPECT_TRUE(qdbus_cast<ToolTipSni>(propiedad("ToolTip")).texto.contains("en hora"));

    // A click pops the window's menu; the panel's own one restores.
    llamar(kItem, kInterfazItem, QStringLiteral("Activate"), {0, 0});
    EXPECT_TRUE(esperar([&] { return f.menu->isVisible(); }));
    f.menu->hide();
    ASSERT_EQ(etiquetas_menu(), (QStringList{"Restaurar", "Historial", "Comprobar ahora"}));
    const quarvel::EventoMenuSni clic{1, QStringLiteral("clicked"), QDBusVariant(QVariant(0)), 0};
    llamar(kMenu, kInterfazMenu, QStringLiteral("EventGroup"),
           {QVariant::fromValue(QList<quarvel::EventoMenuSni>{clic})});
    EXPECT_TRUE(esperar([&] { return f.isVisible(); }));
}

} // namespace

#include "test_bandeja.moc"
