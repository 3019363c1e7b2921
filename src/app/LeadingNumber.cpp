#include "app/LeadingNumber.h"

namespace trimora {

double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skipBlanks();
    double sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') sign = -1;
        ++i;
    }
    double value = 0;
    double scale = 0;  // 0 while reading the whole part; then the weight of the next fraction digit
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == ' ' || c == '\t') continue;
        if (c == '.' && scale == 0) {
            scale = 0.1;
            continue;
        }
        if (!c.isDigit() || c.unicode() > '9') break;
        const int digit = c.unicode() - '0';
        if (scale == 0) {
            value = value * 10 + digit;
        } else {
            value += digit * scale;
            scale /= 10;
        }
    }
    return sign * value;
}

}  // namespace trimora
