#include "simulator/linea.h"

#include <algorithm>

namespace quarvel::sim {

namespace {

constexpr Nanos kBitsPerByte = 10;

Metronome byteTimes(long baud) {
    return {kBitsPerByte * kNanosPerSecond, baud};
}

} // namespace

Metronome::Metronome(Nanos num, Nanos den)
    : whole_(num / den)
    , fraction_(num % den)
    , den_(den) {}

void Metronome::restart(Nanos time) {
    time_ = time;
    remainder_ = 0;
}

void Metronome::step() {
    time_ += whole_;
    remainder_ += fraction_;
    if (remainder_ >= den_) {
        remainder_ -= den_;
        ++time_;
    }
}

IncomingLine::IncomingLine(long baud)
    : end_(byteTimes(baud)) {}

Nanos IncomingLine::byteEnd(Nanos readTime) {
    if (readTime > end_.time())
        end_.restart(readTime);
    end_.step();
    return end_.time();
}

OutgoingLine::OutgoingLine(long baud, long fillerPerSecond)
    : free_(byteTimes(baud)) {
    if (fillerPerSecond > 0)
        filler_.emplace(kNanosPerSecond, fillerPerSecond);
}

void OutgoingLine::queueReply(const std::vector<std::uint8_t>& bytes, Nanos notBefore) {
    for (auto b : bytes)
        replies_.push_back({b, notBefore});
}

void OutgoingLine::setListening(bool listening, Nanos now) {
    if (listening && !listening_ && filler_)
        filler_->restart(now);
    listening_ = listening;
}

std::optional<OutgoingLine::Slot> OutgoingLine::next() const {
    std::optional<Slot> slot;
    if (!replies_.empty())
        slot =
            Slot{std::max(replies_.front().notBefore, free_.time()), replies_.front().byte, false};
    if (filler_ && listening_) {
        Nanos start = std::max(filler_->time(), free_.time());
        if (!slot || start < slot->start)
            slot = Slot{start, kFiller, true};
    }
    return slot;
}

void OutgoingLine::commit(const Slot& slot) {
    if (!slot.filler) {
        replies_.pop_front();
    } else {
        // Filler held back by a reply is dropped, not sent later in a burst.
        if (slot.start > filler_->time())
            filler_->restart(slot.start);
        filler_->step();
    }
    if (slot.start > free_.time())
        free_.restart(slot.start);
    free_.step();
}

} // namespace quarvel::sim
