#pragma once

#include <TarnisFormat.h>

#include <common/AbstractExtractor.h>

#include <dravik/DataType.h>
#include <dravik/Region.h>
#include <dravik/StreamAccess.h>
#include <dravik/VariantDataValue.h>
#include <dravik/VectorX.h>
#include <dravik/View.h>
#include <dravik/ViewOriginExtension.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quenza::tarnis {

constexpr const char* TARNIS_PLUGIN_NAME = "TarnisPlugin";
constexpr const char* TARNIS_PLUGIN_VERSION = "1.2.0";
constexpr size_t SIZE_INT32 = 4;

/// The element type of a pixel code; throws dravik::Error "Unsupported datatype ({0} - {1})".
dravik::DataType getDatatypeFromTarnisType(int32_t gcode, int32_t gbits);

/// One image of a Tarnis file, read lazily: the descriptor and the blocks at
/// construction, the pixels on each read. Reads seek on the stream it shares with the
/// other views of the file, so a view is used by one thread at a time.
class TarnisImageView : public virtual common::AbstractExtractor {
public:
    /// The main image of the file. `rootView` is the view that owns it and must carry a
    /// view-origin extension.
    TarnisImageView(std::shared_ptr<dravik::StreamAccess> imageStream, const std::string& imageName,
                    dravik::View* rootView);
    /// The overlay of the file whose main image is described by `mainImageInformation`.
    TarnisImageView(std::shared_ptr<dravik::StreamAccess> imageStream, const image& mainImageInformation,
                    dravik::View* rootView);
    ~TarnisImageView() override;

    /// Throws dravik::InvalidArgument "Invalid buffer" or "Invalid index: ...".
    void read(const dravik::VectorXu64& index, void* dst) override;
    /// Throws dravik::InvalidArgument "Invalid buffer" or "Invalid region".
    void readRegion(const dravik::RegionXu64& region, void* buffer) override;

    const image& tarnisInformation() const { return m_tarnisImageInfo; }
    void addMetadata(const std::string& path, std::shared_ptr<dravik::VariantDataValue> value);

protected:
    /// Shape, properties and axis positions from the record.
    void updateDravikInformation();
    /// A new metadata tree from the record.
    void resetDravikMetadata();
    /// Byte position of the element at `index`; throws dravik::InvalidArgument "Invalid index: ...".
    uint64_t offsetFromIndex(const dravik::VectorXu64& index) const;
    template <typename T>
    void _readOne(T& value);

    /// Reads (or writes) `region` in runs that are contiguous both in the file and in the
    /// packed buffer: whole rows, planes or more at once where the layout allows it.
    void transferRegion(const dravik::RegionXu64& region, uint8_t* buffer, bool reading,
                        dravik::StreamAccess& stream);
    /// Where the pixels now start, after the file was rewritten around them.
    void relocate(uint64_t firstPixel) { m_tarnisImageInfo.m_offsetFirstPixel = firstPixel; }

    friend class TarnisEditableImageView;

    std::shared_ptr<dravik::StreamAccess> m_imageStream;
    image m_tarnisImageInfo;
    dravik::RegionXu64 m_fullRegion;
    int8_t m_indexShape[5] = {-1, -1, -1, -1, -1};
    uint64_t m_rowWidth = 0;
    uint64_t m_planeWidth = 0;
    std::shared_ptr<dravik::ViewOriginExtension> m_viewOrigin;

private:
    void registerOrigin(dravik::View* rootView);
};

} // namespace quenza::tarnis
