#pragma once

#include <AbstractExtractorLod.h>
#include <VxtGrid.h>
#include <VxtHandle.h>

#include <dravik/DataAccess.h>
#include <dravik/DataStorage.h>
#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/Vector.h>
#include <dravik/ViewOriginExtension.h>

#include <boost/property_tree/ptree_fwd.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quenza::vxt {

/// A VXT volume as a multi-resolution view. Opening reads the header and, for a
/// compressed volume, the tile table; the levels read their tiles on demand.
class VxtExtractor : public AbstractExtractorLod {
public:
    static constexpr const char* FORMAT = "VXT";
    /// Most tiles a volume may have: the grid keeps about 128 bytes per tile.
    static constexpr uint64_t MAX_TILE_COUNT = uint64_t(1) << 22;
    /// Largest tile accepted, in bytes.
    static constexpr uint64_t MAX_TILE_BYTES = (uint64_t(1) << 32) - 1;
    /// Bound on what zlib can inflate one byte to (its format cannot do better than about 1032:1).
    static constexpr uint64_t MAX_INFLATE_RATIO = 1040;

    /// Opens the header file at `path`; the data file is looked up in its directory.
    explicit VxtExtractor(const std::string& path);
    /// Opens the header read from `dataAccess`; the data file is looked up in the
    /// access's storage. Throws dravik::Error "Unsupported format" for another format name.
    VxtExtractor(std::shared_ptr<dravik::DataAccess> dataAccess, const std::string& format);
    ~VxtExtractor() override;

    dravik::Vector<int64_t, 2> levelRange() const override { return m_levelRange; }
    /// The view of `level`, made on first request. Throws dravik::InvalidArgument
    /// "lod required is out of range" outside levelRange().
    std::shared_ptr<dravik::ImageView> resolution(int64_t level) override;

    const std::shared_ptr<VxtHandle>& handle() const { return m_handle; }
    const std::shared_ptr<VxtGrid>& grid() const { return m_grid; }

    /// Fills the handle, grid and level slots from a parsed header; the data file is
    /// opened in `storage` by the name the header gives.
    void init(const boost::property_tree::ptree& tree, std::shared_ptr<dravik::DataStorage> storage);
    /// The metadata node "Histogram" of the header's histogram.
    std::shared_ptr<dravik::MetadataNode> buildHistogram(const boost::property_tree::ptree& tree) const;

private:
    void open(dravik::StreamAccess& header, std::shared_ptr<dravik::DataStorage> storage,
              dravik::ViewDataOrigin origin);
    void readCoordinateSystem(const boost::property_tree::ptree& tree);
    void buildMetadata(const boost::property_tree::ptree& tree, const std::string& dataFilename,
                       const std::string& typeWord, uint8_t significantBits, double minimum, double maximum);

    dravik::Vector<int64_t, 2> m_levelRange;
    std::shared_ptr<VxtHandle> m_handle;
    std::vector<std::shared_ptr<dravik::ImageView>> m_resolutions;
    std::shared_ptr<VxtGrid> m_grid;
    std::mutex m_resolutionsMutex;
};

} // namespace quenza::vxt
