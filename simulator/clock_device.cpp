#include "simulator/clock_device.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quarvel::sim {

namespace {

constexpr Micros kMicrosPerDay = 86'400 * kMicrosPerSecond;

Micros floorDiv(Micros a, Micros b) {
    Micros q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

Command commandFor(Field field) {
    switch (field) {
    case Field::Day:
        return Command::Day;
    case Field::Month:
        return Command::Month;
    case Field::Year:
        return Command::Year;
    case Field::Hour:
        return Command::Hour;
    case Field::Minute:
        return Command::Minute;
    case Field::Second:
        break;
    }
    return Command::Second;
}

std::string hexByte(std::uint8_t b) {
    char buf[16];
    if (b >= 0x21 && b <= 0x7E)
        std::snprintf(buf, sizeof buf, "0x%02X ('%c')", b, b);
    else
        std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

std::string_view errorCode(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::None:
        return "";
    case ErrorKind::UnknownCommand:
        return "comando_desconocido";
    case ErrorKind::UnknownSecondByte:
        return "segunda_letra_desconocida";
    case ErrorKind::InvalidValue:
        return "valor_invalido";
    case ErrorKind::NonexistentDate:
        break;
    }
    return "fecha_inexistente";
}

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

std::optional<int> decodeBcd(std::uint8_t byte) {
    int hi = byte >> 4;
    int lo = byte & 0x0F;
    if (hi > 9 || lo > 9)
        return std::nullopt;
    return hi * 10 + lo;
}

std::uint8_t encodeBcd(int value) {
    return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

FieldRange fieldRange(Field field) {
    switch (field) {
    case Field::Day:
        return {1, 31};
    case Field::Month:
        return {1, 12};
    case Field::Year:
        return {0, 99};
    case Field::Hour:
        return {0, 23};
    case Field::Minute:
    case Field::Second:
        break;
    }
    return {0, 59};
}

std::optional<int> decodeField(Field field, std::uint8_t byte) {
    auto v = decodeBcd(byte);
    auto r = fieldRange(field);
    if (!v || *v < r.min || *v > r.max)
        return std::nullopt;
    return v;
}

char fieldLetter(Field field) {
    return commandName(commandFor(field)).front();
}

std::optional<Field> fieldFromLetter(std::uint8_t letter) {
    switch (letter) {
    case 'D':
        return Field::Day;
    case 'M':
        return Field::Month;
    case 'Y':
        return Field::Year;
    case 'H':
        return Field::Hour;
    case 'm':
        return Field::Minute;
    case 'S':
        return Field::Second;
    default:
        return std::nullopt;
    }
}

DateTime toDateTime(Micros wall) {
    using namespace std::chrono;
    Micros dayIndex = floorDiv(wall, kMicrosPerDay);
    Micros rest = wall - dayIndex * kMicrosPerDay;
    year_month_day ymd{sys_days{days{dayIndex}}};
    DateTime dt;
    dt.year = static_cast<int>(ymd.year());
    dt.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    dt.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    Micros secs = rest / kMicrosPerSecond;
    dt.hour = static_cast<int>(secs / 3600);
    dt.minute = static_cast<int>(secs / 60 % 60);
    dt.second = static_cast<int>(secs % 60);
    dt.micros = static_cast<int>(rest % kMicrosPerSecond);
    return dt;
}

std::optional<Micros> fromDateTime(const DateTime& dt) {
    using namespace std::chrono;
    if (dt.month < 1 || dt.month > 12 || dt.day < 1 || dt.day > 31)
        return std::nullopt;
    year_month_day ymd{year{dt.year}, month{static_cast<unsigned>(dt.month)},
                       day{static_cast<unsigned>(dt.day)}};
    if (!ymd.ok() || dt.hour < 0 || dt.hour > 23 || dt.minute < 0 || dt.minute > 59 ||
        dt.second < 0 || dt.second > 59 || dt.micros < 0 || dt.micros >= kMicrosPerSecond)
        return std::nullopt;
    Micros dayIndex = sys_days{ymd}.time_since_epoch().count();
    return dayIndex * kMicrosPerDay +
           ((dt.hour * 60 + dt.minute) * 60 + dt.second) * kMicrosPerSecond + dt.micros;
}

std::string formatDateTime(const DateTime& dt) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d.%03d", dt.day, dt.month, dt.year,
                  dt.hour, dt.minute, dt.second, dt.micros / 1000);
    return buf;
}

DeviceClock::DeviceClock(Micros pcNow, double offsetSeconds, double driftPpm)
    : anchorPc_(pcNow)
    , anchorDevice_(pcNow + std::llround(offsetSeconds * kMicrosPerSecond))
    , driftPpm_(driftPpm) {}

Micros DeviceClock::deviceTime(Micros pcNow) const {
    Micros elapsed = pcNow - anchorPc_;
    return anchorDevice_ + elapsed + std::llround(static_cast<double>(elapsed) * driftPpm_ * 1e-6);
}

bool DeviceClock::setField(Field field, int value, Micros pcNow) {
    DateTime dt = now(pcNow);
    switch (field) {
    case Field::Day:
        dt.day = value;
        break;
    case Field::Month:
        dt.month = value;
        break;
    case Field::Year:
        dt.year = 2000 + value;
        break;
    case Field::Hour:
        dt.hour = value;
        break;
    case Field::Minute:
        dt.minute = value;
        break;
    case Field::Second:
        dt.second = value;
        dt.micros = 0;
        break;
    }
    auto device = fromDateTime(dt);
    if (!device)
        return false;
    // Re-anchor so drift restarts from the moment the device was set.
    anchorPc_ = pcNow;
    anchorDevice_ = *device;
    return true;
}

std::string_view modeName(DisplayMode mode) {
    return mode == DisplayMode::TimeOnly ? "hora" : "fecha_hora";
}

std::array<std::uint8_t, kReplySize> buildReply(const DateTime& dt) {
    return {'C', 'X',
            'd', encodeBcd(dt.day),
            'm', encodeBcd(dt.month),
            'y', encodeBcd(dt.year % 100),
            'h', encodeBcd(dt.hour),
            'n', encodeBcd(dt.minute),
            's', encodeBcd(dt.second),
            'S'};
}

std::string_view commandName(Command command) {
    switch (command) {
    case Command::Day:
        return "D";
    case Command::Month:
        return "M";
    case Command::Year:
        return "Y";
    case Command::Hour:
        return "H";
    case Command::Minute:
        return "m";
    case Command::Second:
        return "S";
    case Command::EndSetting:
        return "CW";
    case Command::ShowTime:
        return "CH";
    case Command::ShowDateTime:
        return "CF";
    case Command::Query:
        return "CX";
    case Command::Error:
        break;
    }
    return "error";
}

std::string describeError(const Event& event) {
    std::string b = event.byte ? hexByte(*event.byte) : "?";
    std::string letter = event.field ? std::string(1, fieldLetter(*event.field)) : "?";
    switch (event.error) {
    case ErrorKind::None:
        return "";
    case ErrorKind::UnknownCommand:
        return "byte " + b + " desconocido donde se esperaba un comando; descartado";
    case ErrorKind::UnknownSecondByte:
        return "\"C\" seguido de " + b + " desconocido; descartados ambos";
    case ErrorKind::InvalidValue: {
        auto r = fieldRange(*event.field);
        return "valor " + b + " no válido para " + letter + " (BCD " + std::to_string(r.min) + "-" +
               std::to_string(r.max) + "); campo sin cambios";
    }
    case ErrorKind::NonexistentDate:
        break;
    }
    return letter + " " + std::to_string(event.value.value_or(-1)) +
           " daría una fecha inexistente; campo sin cambios";
}

std::string toJsonLine(const Event& event, Micros tUs) {
    std::string out = "{\"t_us\":" + std::to_string(tUs) + ",\"cmd\":";
    appendJsonString(out, commandName(event.command));
    if (event.value)
        out += ",\"value\":" + std::to_string(*event.value);
    if (event.byte)
        out += ",\"byte\":" + std::to_string(*event.byte);
    if (event.error != ErrorKind::None) {
        out += ",\"error\":";
        appendJsonString(out, errorCode(event.error));
        if (event.field) {
            out += ",\"field\":";
            appendJsonString(out, std::string(1, fieldLetter(*event.field)));
        }
        out += ",\"detail\":";
        appendJsonString(out, describeError(event));
    }
    if (event.ignored)
        out += ",\"ignored\":true";
    if (!event.reply.empty()) {
        std::string hex;
        for (auto b : event.reply) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%02X", b);
            hex += hex.empty() ? "" : " ";
            hex += buf;
        }
        out += ",\"reply\":";
        appendJsonString(out, hex);
    }
    out += ",\"device\":";
    appendJsonString(out, formatDateTime(event.device));
    out += ",\"mode\":";
    appendJsonString(out, modeName(event.mode));
    out += '}';
    return out;
}

ClockDevice::ClockDevice(const Settings& settings, Micros pcNow)
    : clock_(pcNow, settings.offsetSeconds, settings.driftPpm)
    , mode_(settings.mode)
    , ignoreEvery_(settings.ignoreEvery)
    , sampleDelay_(settings.sampleDelay) {}

bool ClockDevice::takeIgnoreTurn() {
    if (ignoreEvery_ <= 0)
        return false;
    return ++wellFormedCount_ % ignoreEvery_ == 0;
}

Event ClockDevice::finish(Event event, Micros pcNow) {
    event.device = clock_.now(pcNow);
    event.mode = mode_;
    if (event.command == Command::Query && !event.ignored) {
        auto reply = buildReply(sampleDelay_ > 0 ? clock_.now(pcNow + sampleDelay_) : event.device);
        event.reply.assign(reply.begin(), reply.end());
    }
    return event;
}

std::optional<Event> ClockDevice::onCommandByte(std::uint8_t b) {
    if (auto field = fieldFromLetter(b)) {
        pendingField_ = *field;
        state_ = State::Value;
        return std::nullopt;
    }
    if (b == 'C') {
        state_ = State::SecondLetter;
        return std::nullopt;
    }
    Event e;
    e.byte = b;
    e.error = ErrorKind::UnknownCommand;
    return e;
}

Event ClockDevice::onValueByte(std::uint8_t b, Micros pcNow) {
    // Whatever this byte is (even 'D' or 'S'), it is the value.
    state_ = State::Command;
    Event e;
    e.byte = b;
    e.field = pendingField_;
    e.value = decodeField(pendingField_, b);
    if (!e.value) {
        e.error = ErrorKind::InvalidValue;
        return e;
    }
    e.command = commandFor(pendingField_);
    if (takeIgnoreTurn()) {
        e.ignored = true;
    } else if (!clock_.setField(pendingField_, *e.value, pcNow)) {
        e.command = Command::Error;
        e.error = ErrorKind::NonexistentDate;
    }
    return e;
}

Event ClockDevice::onSecondLetter(std::uint8_t b) {
    state_ = State::Command;
    Event e;
    switch (b) {
    case 'W':
        e.command = Command::EndSetting;
        break;
    case 'H':
        e.command = Command::ShowTime;
        break;
    case 'F':
        e.command = Command::ShowDateTime;
        break;
    case 'X':
        e.command = Command::Query;
        break;
    default:
        e.byte = b;
        e.error = ErrorKind::UnknownSecondByte;
        return e;
    }
    e.ignored = takeIgnoreTurn();
    if (!e.ignored && e.command == Command::ShowTime)
        mode_ = DisplayMode::TimeOnly;
    if (!e.ignored && e.command == Command::ShowDateTime)
        mode_ = DisplayMode::DateTime;
    return e;
}

std::vector<Event> ClockDevice::feed(std::span<const std::uint8_t> bytes, Micros pcNow) {
    std::vector<Event> events;
    for (std::uint8_t b : bytes) {
        std::optional<Event> e;
        switch (state_) {
        case State::Command:
            e = onCommandByte(b);
            break;
        case State::Value:
            e = onValueByte(b, pcNow);
            break;
        case State::SecondLetter:
            e = onSecondLetter(b);
            break;
        }
        if (e)
            events.push_back(finish(std::move(*e), pcNow));
    }
    return events;
}

} // namespace quarvel::sim
