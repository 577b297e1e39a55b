#pragma once

#include <QString>

namespace vennimo::fuzz {

// A Qt application on the offscreen platform and a private temporary storage folder, made once.
void initialize();
const QString& storage();

} // namespace vennimo::fuzz
