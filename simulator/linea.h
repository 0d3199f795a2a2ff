// Byte timing of the serial line: 10 bit times per byte (start, 8 data, stop).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace quarvel::sim {

using Nanos = std::int64_t;

constexpr Nanos kNanosPerSecond = 1'000'000'000;

// A time advanced in steps of num/den nanoseconds. The remainder is carried,
// so a long run of steps does not drift (10 bits at 9600 baud is not a whole
// number of nanoseconds).
class Metronome {
public:
    Metronome(Nanos num, Nanos den);

    Nanos time() const { return time_; }
    void restart(Nanos time);
    void step();

private:
    Nanos whole_;
    Nanos fraction_;
    Nanos den_;
    Nanos time_ = 0;
    Nanos remainder_ = 0;
};

// Receiving side: a byte finishes arriving one byte time after the previous
// one did, or after it was read if the line had gone idle.
class IncomingLine {
public:
    explicit IncomingLine(long baud);

    Nanos byteEnd(Nanos readTime);

private:
    Metronome end_;
};

// Sending side. Replies go out byte after byte as soon as the line is free;
// filler, when enabled, only takes the line while no reply byte is due, so a
// reply waits at most for the byte already on the line.
class OutgoingLine {
public:
    static constexpr std::uint8_t kFiller = 0x00;

    OutgoingLine(long baud, long fillerPerSecond);

    void queueReply(const std::vector<std::uint8_t>& bytes, Nanos notBefore);
    // Filler flows only while someone has the port open.
    void setListening(bool listening, Nanos now);

    struct Slot {
        Nanos start;
        std::uint8_t byte;
        bool filler;
    };
    // The next byte to send and when it may start; empty if nothing is pending.
    std::optional<Slot> next() const;
    // The byte from next() went out (or was lost): the line is busy for it.
    void commit(const Slot& slot);

private:
    struct Queued {
        std::uint8_t byte;
        Nanos notBefore;
    };

    Metronome free_;
    std::optional<Metronome> filler_;
    bool listening_ = false;
    std::deque<Queued> replies_;
};

} // namespace quarvel::sim
