#pragma once

#include <dravik/DataAccess.h>
#include <dravik/StreamAccess.h>

#include <memory>

namespace quenza::common {

/// Turns the data accesses a host hands over into streams.
class StreamConverter {
public:
    /// `accessor` as a stream, a random access being read through a stream from its
    /// start. Throws dravik::InvalidArgument "Invalid accessor" when it is neither, and
    /// "Accessor does not support the required capabilities" when the stream lacks one
    /// of `required`.
    static std::shared_ptr<dravik::StreamAccess> convertInputAccessor(std::shared_ptr<dravik::DataAccess> accessor,
                                                                      dravik::StreamAccessCapabilitySet required);
    /// `accessor` as a stream, or empty when it is not one.
    static std::shared_ptr<dravik::StreamAccess> convertOutputAccessor(std::shared_ptr<dravik::DataAccess> accessor);
};

} // namespace quenza::common
