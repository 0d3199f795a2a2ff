#include "platform/archivos.h"
#include "platform/diario.h"
#include "tests/apoyo.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
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

TEST(ArchivosWin, JournalLinesGoToTheFolderLogAndRollOver) {
    CarpetaTemporal dir;
    desviar_diario([](const QByteArray&) {});
    diario_tambien_en_archivo(QStringLiteral("Prueba"), 150);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("Prueba.log"))) << "no empty file before a line";
    diario(Prioridad::Aviso, QStringLiteral("uno\ndos"));
    const QByteArray primera = CarpetaTemporal::leer("Prueba.log");
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} aviso: uno dos\r\n$)"))
                    .match(QString::fromUtf8(primera))
                    .hasMatch())
        << primera.toStdString();
    // Past the size, the file moves to .1 and a new one starts: no line lost
    // between the two, none beyond the size left in the new one.
    for (int i = 0; i < 10; ++i)
        diario(Prioridad::Error, QStringLiteral("línea %1").arg(i));
    diario_tambien_en_archivo(QString());
    desviar_diario(nullptr);
    const QByteArray ambos =
        CarpetaTemporal::leer("Prueba.log.1") + CarpetaTemporal::leer("Prueba.log");
    for (int i = 3; i < 10; ++i)
        EXPECT_TRUE(ambos.contains(QStringLiteral("error: línea %1\r\n").arg(i).toUtf8())) << i;
    EXPECT_LE(CarpetaTemporal::leer("Prueba.log").size(), 150);
    EXPECT_FALSE(ambos.contains("uno dos")) << "the oldest lines go with the second move";
}
