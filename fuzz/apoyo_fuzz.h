#pragma once

// Shared by the fuzz targets: a failed property aborts, so libFuzzer keeps
// the input as a crash exactly like a sanitizer report.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quarvel_fuzz {

[[noreturn]] inline void fallo_propiedad(const char* que, const char* archivo, int linea) {
    std::fprintf(stderr, "%s:%d: propiedad incumplida: %s\n", archivo, linea, que);
    std::abort();
}

#define EXIGIR(cond)                                                                               \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::quarvel_fuzz::fallo_propiedad(#cond, __FILE__, __LINE__);                            \
    } while (0)

// Copies, so a read past the input's end shows up under ASan instead of
// reading libFuzzer's neighbouring memory.
inline QByteArray bytes(const std::uint8_t* datos, std::size_t largo) {
    return QByteArray(reinterpret_cast<const char*>(datos), static_cast<qsizetype>(largo));
}

} // namespace quarvel_fuzz
