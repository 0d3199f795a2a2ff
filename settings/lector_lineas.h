#pragma once

#include <QByteArray>

namespace quarvel {

// Reads lines as the settings files define them: a line ends at CR, a LF
// right after that CR is skipped, a LF alone is an ordinary character, and
// the last line may end at the end of the data.
class LectorLineas {
public:
    explicit LectorLineas(QByteArray datos)
        : datos_(std::move(datos)) {}

    bool fin() const { return pos_ >= datos_.size(); }
    // The next line's text; call only when !fin().
    QByteArray leerLinea();

private:
    QByteArray datos_;
    qsizetype pos_ = 0;
};

} // namespace quarvel
