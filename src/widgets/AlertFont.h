#pragma once

#include <QFont>

namespace vennimo {

// The alerts' Chinese text, named explicitly so the C locale does not pick Japanese letterforms.
QFont alertFont(qreal pointSize);

} // namespace vennimo
