#pragma once
#include <memory>

namespace dispatch {
class DispatchQueue;
}

namespace tovel {

/// The module's own serial background queue, labelled "TovelCommon": made on first use and never
/// released. Thumbnails are decoded on it one at a time, in the order requested.
const std::shared_ptr<dispatch::DispatchQueue>& commonQueue();

}  // namespace tovel
