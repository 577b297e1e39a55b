#include "dragdrop/FilePromiseReceiver.h"

namespace vennimo {

FilePromiseReceiver::~FilePromiseReceiver() = default;

} // namespace vennimo
