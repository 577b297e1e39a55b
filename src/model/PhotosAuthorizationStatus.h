#pragma once

namespace vennimo {

// Access to a Photos library, as the library layer reports it.
enum class PhotosAuthorizationStatus { notDetermined, restricted, denied, authorized, limited };

} // namespace vennimo
