// The clock device as a read-back sees it, in virtual time: the one model
// the estimator's tests, the checker's tests and the benchmark share.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

namespace quarvel::sim {

class ModeloAparato {
public:
    struct Config {
        // Clock minus PC at the start (s), and its drift (1e-6: 1 ppm; positive
        // gains).
        double desvio_s = 0;
        double deriva = 0;
        // How long after a request's write begins the device reads its clock:
        // the request's two bytes on the line, then its own fixed delay (s).
        double byte_s = 0.00104;
        double latencia_s = 0;
        // Each read's moment wanders uniformly within this much either way (s).
        double fluctuacion_s = 0.0005;
        // A lying device: this share of replies carries a random second, and
        // each read is late by a further random 0 .. this (s).
        double mentira = 0;
        double latencia_azar_s = 0;
        // How far off a set leaves the clock, uniformly either way (s).
        double error_puesta_s = 0.0005;
        // Drops every set, as a set lost on the line would be.
        bool ignorar_puestas = false;
    };

    ModeloAparato(const Config& config, std::int64_t inicio_us, std::uint32_t semilla);

    // Clock minus PC at `t_us`, in seconds: the truth.
    double desvio(std::int64_t t_us) const;
    // The whole second (since 1970) the reply to a request written at `t_us`
    // carries; `llegada_us`, when given, gets when the reply's fifteen bytes
    // are in (as a reader polling each millisecond sees it).
    std::int64_t responder(std::int64_t t_us, std::int64_t* llegada_us = nullptr);
    // Set: its seconds byte lands at `t_us`, leaving the clock `desvio_s`
    // off (a byte landing late leaves it behind).
    void puesta(std::int64_t t_us, double desvio_s = 0);
    // Changed behind the checker's back by `salto_s` at `t_us`.
    void golpe(std::int64_t t_us, double salto_s);

    const Config& config() const { return config_; }
    void ignorar_puestas(bool si) { config_.ignorar_puestas = si; }

private:
    Config config_;
    std::int64_t ref_us_;
    double desvio_ref_s_;
    std::mt19937 azar_;
};

} // namespace quarvel::sim
