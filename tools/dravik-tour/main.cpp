// A short tour of the data-model library: a volume is written to a raw file, opened
// again lazily, cropped, subsampled and summarised. Nothing but the bytes asked for
// is read from the file.

#include <dravik/dravik.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace dravik;

void summarise(const std::string& title, ImageView& view)
{
    std::vector<uint16_t> voxels(view.elementCount());
    view.readRegion(RegionXu64::fullRegion(view.shape()), voxels.data());
    const auto [lo, hi] = std::minmax_element(voxels.begin(), voxels.end());
    const double mean = std::accumulate(voxels.begin(), voxels.end(), 0.0) / static_cast<double>(voxels.size());
    const auto& calibration = view.properties()->calibration();
    fmt::print("{:<24} shape ({}) {}  origin ({}) spacing ({}) {}  min {} max {} mean {:.1f}  from {}\n", title,
               view.shape().toString(), view.dataType().toString(), calibration.origin().toString(),
               calibration.spacing().toString(), calibration.unit(), *lo, *hi, mean,
               toString(view.viewOrigin()->dataOrigin()));
}

} // namespace

int main()
{
    try {
        const VectorXu64 shape{256, 256, 64};
        auto volume = ImageViewFactory::allocate(shape, DataTypeId::UINT16);
        std::vector<uint16_t> voxels(shape.prod());
        for (uint64_t z = 0; z < shape[2]; ++z) {
            for (uint64_t y = 0; y < shape[1]; ++y) {
                for (uint64_t x = 0; x < shape[0]; ++x) {
                    const double r = std::hypot(double(x) - 128.0, double(y) - 128.0, (double(z) - 32.0) * 4.0);
                    voxels[(z * shape[1] + y) * shape[0] + x] = static_cast<uint16_t>(r < 100 ? 4000 - r * 30 : 100);
                }
            }
        }
        volume->writeRegion(RegionXu64::fullRegion(shape), voxels.data());

        const char* tmp = std::getenv("TMPDIR");
        const std::string path = std::string(tmp ? tmp : "/tmp") + "/dravik-tour-volume.raw";
        {
            auto out = StreamAccessFactory::openFileWrite(path);
            out->write(volume->bufferSize(), volume->bufferReadOnly());
            out->flush();
        }

        auto file = ImageViewFactory::fromRandomAccess(RandomAccessFactory::openFileRead(path), shape,
                                                       DataTypeId::UINT16);
        auto props = ImageProperties::fromDataType(DataTypeId::UINT16);
        props->calibration().setSpacing(Vector3d{0.5, 0.5, 2.0});
        props->calibration().setUnit("um");
        props->imageInfo().setAxesInterpretation(ImageTypeId::VOLUME);
        auto calibrated = ImageViewFactory::fromImageView(file, props, nullptr);

        summarise("file-backed volume", *calibrated);
        auto core = ImageViewFactory::extractRegion(calibrated, RegionXu64({64, 64, 16}, {128, 128, 32}));
        summarise("central region", *core);
        summarise("region subsampled by 2", *ImageViewFactory::subSample(core, 2));

        // Two regions of the file seen as one sequence, stacked along a new axis.
        auto left = ImageViewFactory::extractRegion(calibrated, RegionXu64({0, 64, 16}, {64, 128, 32}));
        auto right = ImageViewFactory::extractRegion(calibrated, RegionXu64({192, 64, 16}, {64, 128, 32}));
        summarise("two regions, stacked", *ImageViewFactory::stack(MultiImageViewFactory::create({left, right})));
        std::remove(path.c_str());
        return 0;
    } catch (const Error& e) {
        std::fprintf(stderr, "dravik-tour: %s\n", e.what());
        return 1;
    }
}
