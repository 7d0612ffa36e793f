#pragma once

#include <dravik/MetadataNode.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>

#include <boost/endian/conversion.hpp>

#include <cstdint>
#include <map>
#include <memory>

namespace quenza::gatan {

/// What a DM reader shares with all its frames: the stream, the tag tree and what the
/// header declared. Frames keep it alive, and with it the file.
struct GatanHandle {
    /// 3 or 4 once the header is read; 0 before.
    int32_t m_version = 0;
    /// Byte order that the file declares for its values.
    boost::endian::order m_endianess = boost::endian::order::big;
    /// Root of the tag tree, named "root".
    std::shared_ptr<dravik::MetadataNode> m_metadata;
    /// The stream the file is read from.
    std::shared_ptr<dravik::StreamAccess> m_reader;
    /// Positioned reads of the same bytes, through which frames read their pixels: reads
    /// on several threads do not share a position.
    std::shared_ptr<dravik::RandomAccess> m_random;
    /// Byte count of every "Data" array skipped while parsing, by its offset: a frame
    /// checks that the array it points at holds all the bytes its dimensions need.
    std::map<uint64_t, uint64_t> m_dataArrayBytes;
};

} // namespace quenza::gatan
