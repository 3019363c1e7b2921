#pragma once
#include <QString>

namespace trimora {

// The number a text begins with, read the way list texts are read: an optional sign, then digits
// (blanks among them are skipped) and an optional "." fraction, whatever the user's locale.
// A text that does not begin with a number gives 0.
double LeadingNumber(const QString& text);

}  // namespace trimora
