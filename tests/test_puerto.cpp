#include "platform/fallo.h"
#include "tests/apoyo.h"

#include <gtest/gtest.h>

using namespace quarvel;

TEST(Puerto, PortNumberAndSettingsValidated) {
    PuertoFalso p;
    EXPECT_TRUE(descripcion_de([&] { p.setCommPort(0); }).contains("0"));
    EXPECT_THROW(p.setCommPort(256), Fallo);
    p.setCommPort(255);
    EXPECT_EQ(p.CommPort(), 255);
    for (const char* bueno : {"9600,N,8,1", "110,e,7,2", "256000,O,5,1.5", "19200,M,6,1"}) {
        p.setSettings(QString::fromLatin1(bueno));
        EXPECT_EQ(p.Settings(), QString::fromLatin1(bueno));
    }
    const std::pair<const char*, const char*> malos[] = {
        {"9600,N,8", "9600,N,8"},  {"0,N,8,1", "Velocidad"}, {"abc,N,8,1", "Velocidad"},
        {"9600,X,8,1", "Paridad"}, {"9600,N,9,1", "datos"},  {"9600,N,8,3", "parada"},
        {"", "puerto no"},
    };
    for (const auto& [malo, campo] : malos) {
        const QString texto = QString::fromLatin1(malo);
        const QString d = descripcion_de([&] { p.setSettings(texto); });
        EXPECT_TRUE(d.contains(QString::fromLatin1(campo))) << malo << " -> " << d.toStdString();
    }
    EXPECT_EQ(p.Settings(), QStringLiteral("19200,M,6,1"));
}
