#include <common/StreamConverter.h>

#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccessFactory.h>

namespace quenza::common {

std::shared_ptr<dravik::StreamAccess> StreamConverter::convertInputAccessor(
    std::shared_ptr<dravik::DataAccess> accessor, dravik::StreamAccessCapabilitySet required)
{
    std::shared_ptr<dravik::StreamAccess> stream = dravik::StreamAccessProvider::toStream(accessor);
    std::shared_ptr<dravik::RandomAccess> random = dravik::RandomAccessProvider::toRandom(accessor);
    if (!stream && random) {
        stream = dravik::StreamAccessFactory::fromRandomAccess(random);
    }
    if (!stream) {
        throw dravik::InvalidArgument("Invalid accessor");
    }
    if (!stream->capabilities().hasAll(required)) {
        throw dravik::InvalidArgument("Accessor does not support the required capabilities");
    }
    return stream;
}

std::shared_ptr<dravik::StreamAccess> StreamConverter::convertOutputAccessor(
    std::shared_ptr<dravik::DataAccess> accessor)
{
    return dravik::StreamAccessProvider::toStream(accessor);
}

} // namespace quenza::common
