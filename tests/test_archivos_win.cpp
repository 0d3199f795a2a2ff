#include "platform/archivos.h"
#include "tests/apoyo.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace quarvel;

TEST(ArchivosWin, OnlySmallRegularFilesAreRead) {
    CarpetaTemporal dir;
    QDir().mkdir("carpeta");
    CarpetaTemporal::escribir("grande.ini", QByteArray(64 * 1024 + 1, '\r'));
    CarpetaTemporal::escribir("bueno.ini", "[COM_PORT]\r\n");
    const std::pair<const char*, const char*> casos[] = {
        {"carpeta", "no es un archivo normal"}, {"NUL", "no es un archivo normal"},
        {"grande.ini", "demasiado grande"},     {"falta.ini", "No se encontró"},
        {"bueno.ini", "<no failure>"},
    };
    for (const auto& [nombre, dice] : casos) {
        const QString d = descripcion_de(
            [n = QString::fromLatin1(nombre)] { leer_archivo_pequeno(n, 64 * 1024); });
        EXPECT_TRUE(d.contains(QString::fromUtf8(dice))) << nombre << ": " << d.toStdString();
    }
}

TEST(ArchivosWin, WritesLeaveWholeFilesAndNoTemporaryBehind) {
    CarpetaTemporal dir;
    reemplazar_sin_enlaces("m.prom", "uno\n");
    reemplazar_sin_enlaces("m.prom", "dos\n");
    EXPECT_EQ(CarpetaTemporal::leer("m.prom"), QByteArray("dos\n"));
    anexar_entero("s.txt", "a\n");
    anexar_entero("s.txt", "b\n");
    EXPECT_EQ(CarpetaTemporal::leer("s.txt"), QByteArray("a\nb\n"));
    bool recortado = false;
    EXPECT_EQ(leer_final_de_archivo("s.txt", 3, recortado), QByteArray("b\n"));
    EXPECT_TRUE(recortado);
    escribir_en_su_sitio("s.txt", "c");
    EXPECT_EQ(CarpetaTemporal::leer("s.txt"), QByteArray("c"));
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList({"m.prom", "s.txt"}));
}
