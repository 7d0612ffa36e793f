#pragma once

#include <dravik/DataAccess.h>
#include <dravik/ImageView.h>
#include <dravik/Region.h>
#include <dravik/StreamAccess.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quenza::raw {

/// Writes the elements of an image, or of the stack of a multi-image view, as bare
/// bytes in the machine's byte order: no header, nothing after the data.
class RawWriter : public dravik::Writer {
public:
    static constexpr const char* FORMAT = "RAW";
    /// Upper bound of the bytes read and written in one piece by writeData.
    static constexpr uint64_t DEFAULT_SLAB_BYTES = uint64_t(64) << 20;

    /// Writes `view` to `accessor`, which must be a writable stream. Throws
    /// dravik::InvalidArgument for a format other than "RAW", dravik::Error "output
    /// storage does not have writing capabilities", and the errors of
    /// ViewConverter::toImageView.
    RawWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::DataAccess> accessor,
              const std::string& format, uint64_t slabBytes = DEFAULT_SLAB_BYTES);
    /// Writes `view` to the file at `path`, which is created or emptied only once the
    /// view has been accepted.
    RawWriter(std::shared_ptr<dravik::View> view, const std::string& path, uint64_t slabBytes = DEFAULT_SLAB_BYTES);

    void writeAll() override;
    void writeInit() override;
    /// Appends one copy of the image to the destination.
    void writeData() override;
    /// Flushes and releases the destination.
    void writeFinish() override;
    std::string name() const override;
    std::string version() const override;
    /// Always throws dravik::Error "impossible to set options".
    void setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value) override;

private:
    void writeBlock(const dravik::RegionXu64& region, uint64_t byteCount, uint8_t* buffer);

    std::shared_ptr<dravik::ImageView> m_inputImage;
    std::shared_ptr<dravik::StreamAccess> m_output;
    uint64_t m_slabBytes;
};

} // namespace quenza::raw
