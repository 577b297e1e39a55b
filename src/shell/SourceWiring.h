#pragma once

namespace vennimo {

class GalleryModel;
class SourceStore;

// Hands the store's roots to the model whenever the list changes, and installs the store's
// grant check as the model's question before photos go to the Trash. Exhibition items live in
// the storage folder and need no grant. Both directions hold the other side weakly: once the
// store is gone a trash is refused.
void connectSourceStore(SourceStore& store, GalleryModel& model);

} // namespace vennimo
