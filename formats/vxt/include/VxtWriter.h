#pragma once

#include <CompressionScheduler.h>
#include <ImageProcessing.h>
#include <TileNode.h>
#include <VxtGrid.h>
#include <VxtHandle.h>
#include <WriteScheduler.h>

#include <dravik/DataAccess.h>
#include <dravik/DataType.h>
#include <dravik/ImageView.h>
#include <dravik/StreamAccess.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <boost/property_tree/ptree_fwd.hpp>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace quenza::vxt {

/// Writes an image as a VXT volume: the header on the output, the tiles of every
/// level in a data file beside it, compressed on worker threads when asked.
///
/// Accepted inputs: a 3-D or 2-D image view, a multi-image view (stacked), a
/// multi-resolution view (its full resolution). The input is read once, on the
/// calling thread; coarser levels are computed from the tiles below them.
class VxtWriter : public dravik::Writer {
public:
    static constexpr const char* FORMAT = "VXT";
    static constexpr uint64_t MAX_LEVELS = 20;

    /// Writes `view` to the header file at `path`, which is created or emptied once
    /// the view has been accepted.
    VxtWriter(std::shared_ptr<dravik::View> view, const std::string& path);
    /// Writes `view` to `access`, a writable stream whose storage receives the data file.
    VxtWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> access,
              const std::string& format);
    ~VxtWriter() override;

    void writeAll() override;
    void writeInit() override;
    /// Builds and writes every tile. An error of any thread stops and joins the
    /// pipeline and leaves here with its own type and message.
    void writeData() override;
    /// Writes the header.
    void writeFinish() override;
    std::string name() const override;
    std::string version() const override;
    /// "tileSize", "compressor", "compressionLevel" or "histogram", before writeInit.
    void setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value) override;

    /// The header word of `dataType`, or "" for a type the header cannot name.
    static std::string dataTypeToStringVxt(const dravik::DataType& dataType);
    /// The data file named after the header's resource id; "" for an empty id.
    static std::string dataFileNameFor(const std::string& resourceId);
    /// Compression workers for a machine reporting `hardwareThreads` (0 when it cannot tell).
    static uint64_t compressionWorkers(unsigned hardwareThreads) { return hardwareThreads == 0 ? 1 : hardwareThreads; }
    /// Bound on the tiles between the producer and the data file, for `workers` compressors.
    static uint64_t maxTilesInFlight(uint64_t workers) { return 2 * workers + 2; }

    void writeVxtHeader();
    void writeHistogram(boost::property_tree::ptree& tree) const;

    const std::shared_ptr<VxtHandle>& handle() const { return m_handle; }
    const std::shared_ptr<dravik::ImageView>& input() const { return m_input; }
    const std::shared_ptr<ImageProcessing>& statistics() const { return m_statistics; }
    /// The most tiles that were on their way to the data file at once during writeData.
    uint64_t peakTilesInFlight() const { return m_peakTilesInFlight; }

private:
    enum State { CREATED = 0, INITIALISED = 1, DATA_WRITTEN = 2, FINISHED = 3, FAILED = 4 };

    void prepareInput(std::shared_ptr<dravik::View> view);
    void takeOutput(std::shared_ptr<dravik::DataAccess> access);
    void openDataFile();
    void write();
    std::shared_ptr<TileNode> buildOctreeTiles(uint64_t level, const Vector3u64& position);
    void createAndWriteTilesFromTree(const std::shared_ptr<TileNode>& node);
    void subsampleInto(dravik::ImageView& parentImage, const TileNode& parent, const TileNode& child) const;
    void stopPipeline();

    int m_state = CREATED;
    std::shared_ptr<dravik::ImageView> m_input;
    std::shared_ptr<dravik::StreamAccess> m_output;
    std::shared_ptr<std::ostream> m_headerStream;
    std::shared_ptr<VxtHandle> m_handle;
    std::shared_ptr<VxtGrid> m_grid;
    std::shared_ptr<TileNode> m_root;
    std::shared_ptr<WriteScheduler> m_writeScheduler;
    std::shared_ptr<CompressionScheduler> m_compressionScheduler;
    std::shared_ptr<ImageProcessing> m_statistics;
    bool m_inputInMemory = false;
    std::shared_ptr<PipelineState> m_pipeline;
    uint64_t m_peakTilesInFlight = 0;
};

} // namespace quenza::vxt
