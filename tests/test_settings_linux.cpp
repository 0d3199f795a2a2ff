#include "settings/archivos_config.h"
#include "tests/apoyo.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quarvel;

// Permissions, FIFOs, devices and links: what a Linux folder can hold.

TEST(Configuracion, AReadOnlyFolderStillSavesAFileThatCanBeWritten) {
    CarpetaTemporal dir;
    const QByteArray viejo = qv_ini("1", "9600,N,8,1");
    // Whether the file itself may be written; the folder never may.
    for (const bool escribible : {true, false}) {
        CarpetaTemporal::escribir("qv.ini", viejo);
        ASSERT_EQ(chmod("qv.ini", escribible ? 0666 : 0644), 0);
        ASSERT_EQ(chmod(dir.ruta().toLocal8Bit().constData(), 0555), 0);
        // Root writes anywhere, so the save runs as an ordinary user.
        const int estado = en_hijo([] {
            if (geteuid() == 0 && setuid(65534) != 0)
                return 2;
            const QString d =
                descripcion_de([] { guardar_configuracion("2", "9600", "N", "8", "1"); });
            return d == QStringLiteral("<no failure>") ? 0 : d.contains("qv.ini") ? 1 : 3;
        });
        chmod(dir.ruta().toLocal8Bit().constData(), 0755);
        EXPECT_EQ(estado, escribible ? 0 : 1) << escribible;
        EXPECT_EQ(CarpetaTemporal::leer("qv.ini").startsWith("[COM_PORT]\r\n2\r\n"), escribible);
    }
}

TEST(Configuracion, OnlySmallRegularFilesAreRead) {
    CarpetaTemporal dir;
    CarpetaTemporal::escribir("bueno.ini", qv_ini("7", "9600,N,8,1"));
    ASSERT_EQ(mkfifo("tuberia", 0600), 0);
    QDir().mkdir("carpeta");
    CarpetaTemporal::escribir("grande.ini", QByteArray(64 * 1024 + 1, '\r'));
    const std::pair<const char*, const char*> casos[] = {
        {"/dev/zero", "no es un archivo normal"},
        {"tuberia", "no es un archivo normal"},
        {"carpeta", "no es un archivo normal"},
        {"grande.ini", "demasiado grande"},
        {"bueno.ini", "<no failure>"},
    };
    for (const auto& [destino, dice] : casos) {
        QFile::remove("qv.ini");
        ASSERT_TRUE(QFile::link(QString::fromLatin1(destino), "qv.ini"));
        const QString d = descripcion_de([] { leer_configuracion(); });
        EXPECT_TRUE(d.contains(QString::fromLatin1(dice))) << destino << ": " << d.toStdString();
    }
    EXPECT_EQ(leer_configuracion().com_port, QStringLiteral("7"));
    // A long value is cut in the message.
    CarpetaTemporal::escribir("qv.ini", qv_ini("1", QString(60000, u'x')));
    const QString d = descripcion_de([] { separar_config_com(*leer_configuracion().com_cfg); });
    EXPECT_LT(d.size(), 200) << d.toStdString();
}
