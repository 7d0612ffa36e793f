#include <dravik/DataFrameView.h>
#include <dravik/ColumnUnitExtension.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageView.h>
#include <dravik/LodImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/MultiImageView.h>
#include <dravik/View.h>
#include <dravik/ViewOriginExtension.h>
#include <dravik/Writer.h>

#include <fmt/format.h>

namespace dravik {

namespace {

[[noreturn]] void unsupported(const char* what)
{
    throw NotImplemented(fmt::format("This view does not support {}", what));
}

} // namespace

View::~View() = default;

std::shared_ptr<Extension> View::extension(size_t id)
{
    throw Error(fmt::format("Extension {0} not found", id));
}

std::shared_ptr<ViewOriginExtension> View::viewOrigin()
{
    try {
        return std::dynamic_pointer_cast<ViewOriginExtension>(extension(ViewOriginExtension::EXTENSION_ID));
    } catch (const Error&) {
        return nullptr;
    }
}

ImageView::~ImageView() = default;

std::shared_ptr<Extension> ImageView::extension(size_t id)
{
    return View::extension(id);
}
std::shared_ptr<const ImageProperties> ImageView::properties() const
{
    return nullptr;
}
std::shared_ptr<const MetadataNode> ImageView::metadata() const
{
    return nullptr;
}
void ImageView::read(const VectorXu64& index, void* dst)
{
    readRegion(RegionXu64(index, VectorXu64(index.size(), 1)), dst);
}
void ImageView::readRegion(const RegionXu64& /*region*/, void* /*dst*/)
{
    unsupported("reading");
}
void ImageView::setProperties(std::shared_ptr<const ImageProperties> /*properties*/)
{
    unsupported("changing its properties");
}
void ImageView::setMetadata(std::shared_ptr<MetadataNode> /*metadata*/)
{
    unsupported("changing its metadata");
}
void ImageView::write(const VectorXu64& index, const void* src)
{
    writeRegion(RegionXu64(index, VectorXu64(index.size(), 1)), src);
}
void ImageView::writeRegion(const RegionXu64& /*region*/, const void* /*src*/)
{
    unsupported("writing");
}
void ImageView::reshape(const VectorXu64& /*shape*/, DataType /*dataType*/)
{
    unsupported("reshaping");
}
Indexer ImageView::indexer() const
{
    unsupported("memory access");
}
void* ImageView::buffer()
{
    unsupported("memory access");
}
const void* ImageView::bufferReadOnly() const
{
    unsupported("memory access");
}
uint64_t ImageView::bufferSize() const
{
    unsupported("memory access");
}

ImageInterpretation ImageView::imageInterpretation() const
{
    auto props = properties();
    return props ? props->imageInfo().interpretation() : ImageInterpretation::UNKNOWN;
}

uint64_t ImageView::elementCount() const
{
    return RegionXu64::fullRegion(shape()).elementCount();
}

uint64_t ImageView::byteCount() const
{
    return elementCount() * dataType().byteCount();
}

MultiImageView::~MultiImageView() = default;

std::shared_ptr<Extension> MultiImageView::extension(size_t id)
{
    return View::extension(id);
}
std::shared_ptr<const MetadataNode> MultiImageView::metadata() const
{
    return nullptr;
}
void MultiImageView::addFrame(std::shared_ptr<ImageView> /*frame*/)
{
    unsupported("adding frames");
}
void MultiImageView::setFrame(uint64_t /*index*/, std::shared_ptr<ImageView> /*frame*/)
{
    unsupported("replacing frames");
}
void MultiImageView::removeFrame(uint64_t /*index*/)
{
    unsupported("removing frames");
}
void MultiImageView::setMetadata(std::shared_ptr<MetadataNode> /*metadata*/)
{
    unsupported("changing its metadata");
}

LodImageView::~LodImageView() = default;

std::shared_ptr<Extension> LodImageView::extension(size_t id)
{
    return View::extension(id);
}

DataFrameView::~DataFrameView() = default;

std::shared_ptr<Extension> DataFrameView::extension(size_t id)
{
    return View::extension(id);
}
void DataFrameView::write(size_t /*column*/, uint64_t /*offset*/, uint64_t /*count*/, const void* /*src*/)
{
    unsupported("writing");
}
std::string DataFrameView::unit(size_t column)
{
    return extension<ColumnUnitExtension>()->unit(column);
}

Writer::~Writer() = default;

} // namespace dravik
