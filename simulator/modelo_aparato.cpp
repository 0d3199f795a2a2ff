#include "simulator/modelo_aparato.h"

#include <cmath>

namespace quarvel::sim {

ModeloAparato::ModeloAparato(const Config& config, std::int64_t inicio_us, std::uint32_t semilla)
    : config_(config)
    , ref_us_(inicio_us)
    , desvio_ref_s_(config.desvio_s)
    , azar_(semilla) {}

double ModeloAparato::desvio(std::int64_t t_us) const {
    return desvio_ref_s_ + config_.deriva * static_cast<double>(t_us - ref_us_) / 1e6;
}

std::int64_t ModeloAparato::responder(std::int64_t t_us, std::int64_t* llegada_us) {
    std::uniform_real_distribution<double> u(0, 1);
    double retraso =
        2 * config_.byte_s + config_.latencia_s + (u(azar_) * 2 - 1) * config_.fluctuacion_s;
    if (config_.latencia_azar_s > 0)
        retraso += u(azar_) * config_.latencia_azar_s;
    const auto muestra = t_us + static_cast<std::int64_t>(std::llround(retraso * 1e6));
    // Whole seconds from integers and a small offset: exact at any date.
    const auto reloj_us = muestra + static_cast<std::int64_t>(std::llround(desvio(muestra) * 1e6));
    if (llegada_us)
        *llegada_us = muestra + std::llround((15 * config_.byte_s + u(azar_) * 0.001) * 1e6);
    auto segundo = reloj_us >= 0 ? reloj_us / 1'000'000 : (reloj_us - 999'999) / 1'000'000;
    if (config_.mentira > 0 && u(azar_) < config_.mentira)
        segundo = segundo - segundo % 60 + std::uniform_int_distribution<int>(0, 59)(azar_);
    return segundo;
}

void ModeloAparato::puesta(std::int64_t t_us, double desvio_s) {
    if (config_.ignorar_puestas)
        return;
    std::uniform_real_distribution<double> u(-1, 1);
    ref_us_ = t_us;
    desvio_ref_s_ = desvio_s + u(azar_) * config_.error_puesta_s;
}

void ModeloAparato::golpe(std::int64_t t_us, double salto_s) {
    desvio_ref_s_ = desvio(t_us) + salto_s;
    ref_us_ = t_us;
}

} // namespace quarvel::sim
