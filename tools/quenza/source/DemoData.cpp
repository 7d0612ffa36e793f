#include "DemoData.h"

#include <dravik/DataFrameViewFactory.h>
#include <dravik/Error.h>
#include <dravik/ImageProperties.h>
#include <dravik/ImageViewFactory.h>
#include <dravik/MetadataNode.h>
#include <dravik/MetadataNodeFactory.h>
#include <dravik/MetadataNodeHelper.h>
#include <dravik/VariantDataValueFactory.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quenza::cli {

namespace {

constexpr size_t MAX_SPHERES = 12;
constexpr uint64_t SEED = 20240613;
constexpr double PI = 3.14159265358979323846;
const dravik::Vector3d SPACING{0.5, 0.5, 1.0};

struct Sphere {
    double centre[3];
    double radius;
    double peak;
};

/// splitmix64: the same numbers on every machine.
class Random {
public:
    explicit Random(uint64_t seed)
        : m_state(seed)
    {
    }
    uint64_t bits()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /// In [0, 1).
    double uniform() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }

private:
    uint64_t m_state;
};

std::vector<Sphere> placeSpheres(const dravik::Vector3u64& size)
{
    const double smallest = static_cast<double>(std::min({size[0], size[1], size[2]}));
    Random random(SEED);
    std::vector<Sphere> spheres;
    for (int attempt = 0; attempt < 4000 && spheres.size() < MAX_SPHERES; ++attempt) {
        Sphere s{};
        s.radius = std::max(2.0, smallest * (0.07 + 0.11 * random.uniform()));
        for (size_t axis = 0; axis < 3; ++axis) {
            const double room = static_cast<double>(size[axis]) - 2 * s.radius - 2;
            s.centre[axis] = s.radius + 1 + random.uniform() * std::max(0.0, room);
        }
        const bool apart = std::all_of(spheres.begin(), spheres.end(), [&](const Sphere& o) {
            const double dx = s.centre[0] - o.centre[0];
            const double dy = s.centre[1] - o.centre[1];
            const double dz = s.centre[2] - o.centre[2];
            return std::sqrt(dx * dx + dy * dy + dz * dz) > s.radius + o.radius + 2;
        });
        if (apart) {
            s.peak = 24000 + 2800 * static_cast<double>(spheres.size());
            spheres.push_back(s);
        }
    }
    return spheres;
}

std::shared_ptr<dravik::ImageProperties> volumeProperties(const dravik::DataType& type,
                                                          dravik::ImageInterpretation interpretation,
                                                          const dravik::Vector3u64& size)
{
    auto props = dravik::ImageProperties::fromDataType(type);
    props->imageInfo().setInterpretation(interpretation);
    props->imageInfo().setAxesInterpretation(dravik::ImageTypeId::VOLUME);
    auto& cal = props->calibration();
    // Centred on the origin of space and turned by 30 degrees about z.
    cal.setOrigin({-SPACING[0] * static_cast<double>(size[0]) / 2, -SPACING[1] * static_cast<double>(size[1]) / 2,
                   -SPACING[2] * static_cast<double>(size[2]) / 2});
    cal.setSpacing(SPACING);
    cal.setUnit("um");
    const double c = std::cos(PI / 6);
    const double s = std::sin(PI / 6);
    cal.setDirections(dravik::SpatialDirections({c, s, 0}, {-s, c, 0}));
    return props;
}

std::shared_ptr<dravik::MetadataNode> metadataFor(const std::string& content, size_t sphereCount)
{
    using dravik::MetadataNodeHelper;
    using dravik::VariantDataValueFactory;
    auto root = dravik::MetadataNodeFactory::create("root");
    MetadataNodeHelper::createPath(root, "KM/Content", VariantDataValueFactory::create("quenza demo: " + content));
    MetadataNodeHelper::createPath(root, "KM/Sample", VariantDataValueFactory::create("synthetic phantom"));
    MetadataNodeHelper::createPath(root, "KM/Spheres", VariantDataValueFactory::create(static_cast<int32_t>(sphereCount)));
    MetadataNodeHelper::createPath(root, "KM/Acquisition/Voltage", VariantDataValueFactory::create(int32_t{80}));
    MetadataNodeHelper::createPath(root, "KM/Acquisition/Exposure", VariantDataValueFactory::create(0.25));
    MetadataNodeHelper::createPath(root, "TARNIS/Sample", VariantDataValueFactory::create("synthetic phantom"));
    MetadataNodeHelper::createPath(root, "TARNIS/Operator", VariantDataValueFactory::create("quenza demo " + content));
    return root;
}

uint16_t noise(uint64_t index)
{
    uint64_t z = index * 0x9E3779B97F4A7C15ull + SEED;
    z = (z ^ (z >> 31)) * 0xBF58476D1CE4E5B9ull;
    return static_cast<uint16_t>((z >> 40) % 1201);
}

void fillVolumes(const dravik::Vector3u64& size, const std::vector<Sphere>& spheres, uint16_t* grey, uint16_t* labels)
{
    const uint64_t nx = size[0];
    const uint64_t ny = size[1];
    const uint64_t nz = size[2];
    // A background that varies slowly along every axis, in separable factors.
    std::vector<double> fx(nx);
    std::vector<double> fy(ny);
    std::vector<double> fz(nz);
    for (uint64_t x = 0; x < nx; ++x) {
        fx[x] = std::sin(2 * PI * 1.5 * static_cast<double>(x) / static_cast<double>(nx));
    }
    for (uint64_t y = 0; y < ny; ++y) {
        fy[y] = std::cos(2 * PI * static_cast<double>(y) / static_cast<double>(ny));
    }
    for (uint64_t z = 0; z < nz; ++z) {
        fz[z] = static_cast<double>(z) / static_cast<double>(nz);
    }
    uint64_t i = 0;
    for (uint64_t z = 0; z < nz; ++z) {
        for (uint64_t y = 0; y < ny; ++y) {
            for (uint64_t x = 0; x < nx; ++x, ++i) {
                grey[i] = static_cast<uint16_t>(9000 + 3000 * fx[x] * fy[y] + 4000 * fz[z]) + noise(i);
                labels[i] = 0;
            }
        }
    }
    for (size_t s = 0; s < spheres.size(); ++s) {
        const Sphere& sphere = spheres[s];
        uint64_t lo[3];
        uint64_t hi[3];
        for (size_t axis = 0; axis < 3; ++axis) {
            lo[axis] = static_cast<uint64_t>(std::max(0.0, std::floor(sphere.centre[axis] - sphere.radius)));
            hi[axis] = std::min(size[axis], static_cast<uint64_t>(std::ceil(sphere.centre[axis] + sphere.radius)) + 1);
        }
        for (uint64_t z = lo[2]; z < hi[2]; ++z) {
            for (uint64_t y = lo[1]; y < hi[1]; ++y) {
                for (uint64_t x = lo[0]; x < hi[0]; ++x) {
                    const double dx = static_cast<double>(x) - sphere.centre[0];
                    const double dy = static_cast<double>(y) - sphere.centre[1];
                    const double dz = static_cast<double>(z) - sphere.centre[2];
                    const double d2 = (dx * dx + dy * dy + dz * dz) / (sphere.radius * sphere.radius);
                    if (d2 <= 1) {
                        const uint64_t at = (z * ny + y) * nx + x;
                        // Brighter at the centre, like a dense bead.
                        grey[at] = static_cast<uint16_t>(sphere.peak * (1 - 0.3 * d2)) + noise(at);
                        labels[at] = static_cast<uint16_t>(s + 1);
                    }
                }
            }
        }
    }
}

std::shared_ptr<dravik::ImageView> makeRgb(const dravik::Vector3u64& size, const uint16_t* grey)
{
    const uint64_t nx = size[0];
    const uint64_t ny = size[1];
    auto rgb = dravik::ImageViewFactory::allocate({nx, ny}, dravik::DataTypeId::VEC3_UINT8);
    auto* out = static_cast<uint8_t*>(rgb->buffer());
    const uint16_t* slice = grey + (size[2] / 2) * nx * ny;
    const double cx = static_cast<double>(nx) / 2;
    const double cy = static_cast<double>(ny) / 2;
    const double reach = std::sqrt(cx * cx + cy * cy);
    for (uint64_t y = 0; y < ny; ++y) {
        for (uint64_t x = 0; x < nx; ++x) {
            const double dx = static_cast<double>(x) - cx;
            const double dy = static_cast<double>(y) - cy;
            const double h = (std::atan2(dy, dx) + PI) / (2 * PI) * 6;
            const double sat = std::min(1.0, 1.4 * std::sqrt(dx * dx + dy * dy) / reach);
            const double val = std::min(1.0, 0.2 + 0.8 * slice[y * nx + x] / 60000.0);
            const double c = val * sat;
            const double xx = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
            double r = 0;
            double g = 0;
            double b = 0;
            switch (static_cast<int>(h) % 6) {
            case 0: r = c; g = xx; break;
            case 1: r = xx; g = c; break;
            case 2: g = c; b = xx; break;
            case 3: g = xx; b = c; break;
            case 4: r = xx; b = c; break;
            default: r = c; b = xx; break;
            }
            const double m = val - c;
            uint8_t* p = out + 3 * (y * nx + x);
            p[0] = static_cast<uint8_t>(std::lround((r + m) * 255));
            p[1] = static_cast<uint8_t>(std::lround((g + m) * 255));
            p[2] = static_cast<uint8_t>(std::lround((b + m) * 255));
        }
    }
    auto props = dravik::ImageProperties::fromDataType(dravik::DataTypeId::VEC3_UINT8);
    props->imageInfo().setInterpretation(dravik::ImageInterpretation::RGB);
    props->imageInfo().setAxesInterpretation(dravik::ImageTypeId::IMAGE);
    props->calibration().setSpacing(SPACING);
    props->calibration().setUnit("um");
    rgb->setProperties(props);
    return rgb;
}

double rounded(double v)
{
    return std::round(v * 1000) / 1000;
}

std::shared_ptr<dravik::DataFrameView> makeTable(const dravik::Vector3u64& size, size_t labelCount,
                                                 const uint16_t* grey, const uint16_t* labels)
{
    std::vector<uint64_t> count(labelCount + 1);
    std::vector<double> sum(labelCount + 1);
    std::vector<double> sx(labelCount + 1);
    std::vector<double> sy(labelCount + 1);
    std::vector<double> sz(labelCount + 1);
    uint64_t i = 0;
    for (uint64_t z = 0; z < size[2]; ++z) {
        for (uint64_t y = 0; y < size[1]; ++y) {
            for (uint64_t x = 0; x < size[0]; ++x, ++i) {
                const uint16_t l = labels[i];
                ++count[l];
                sum[l] += grey[i];
                sx[l] += static_cast<double>(x);
                sy[l] += static_cast<double>(y);
                sz[l] += static_cast<double>(z);
            }
        }
    }
    const std::vector<std::string> names{"label", "name", "voxels", "volume", "mean", "centroid_x", "centroid_y",
                                         "centroid_z"};
    const std::vector<dravik::DataType> types{dravik::DataTypeId::INT32,  dravik::DataTypeId::UTF8_STRING,
                                              dravik::DataTypeId::INT64,  dravik::DataTypeId::DOUBLE,
                                              dravik::DataTypeId::DOUBLE, dravik::DataTypeId::DOUBLE,
                                              dravik::DataTypeId::DOUBLE, dravik::DataTypeId::DOUBLE};
    const std::vector<std::string> units{"", "", "", "um^3", "", "voxel", "voxel", "voxel"};
    auto table = dravik::DataFrameViewFactory::allocate({names.size(), labelCount}, names, types, units);
    std::vector<int32_t> label;
    std::vector<std::string> name;
    std::vector<int64_t> voxels;
    std::vector<double> volume;
    std::vector<double> mean;
    std::vector<double> cx;
    std::vector<double> cy;
    std::vector<double> cz;
    const double voxelVolume = SPACING[0] * SPACING[1] * SPACING[2];
    for (size_t l = 1; l <= labelCount; ++l) {
        const auto n = static_cast<double>(std::max<uint64_t>(count[l], 1));
        label.push_back(static_cast<int32_t>(l));
        name.push_back(fmt::format("sphere {}", l));
        voxels.push_back(static_cast<int64_t>(count[l]));
        volume.push_back(static_cast<double>(count[l]) * voxelVolume);
        // Three decimals: what a CSV file keeps of them is then exact.
        mean.push_back(rounded(sum[l] / n));
        cx.push_back(rounded(sx[l] / n));
        cy.push_back(rounded(sy[l] / n));
        cz.push_back(rounded(sz[l] / n));
    }
    table->write(0, 0, labelCount, label.data());
    table->write(1, 0, labelCount, name.data());
    table->write(2, 0, labelCount, voxels.data());
    table->write(3, 0, labelCount, volume.data());
    table->write(4, 0, labelCount, mean.data());
    table->write(5, 0, labelCount, cx.data());
    table->write(6, 0, labelCount, cy.data());
    table->write(7, 0, labelCount, cz.data());
    return table;
}

} // namespace

DemoDataset makeDemoDataset(const dravik::Vector3u64& size)
{
    for (size_t axis = 0; axis < 3; ++axis) {
        if (size[axis] < MIN_DEMO_SIZE) {
            throw dravik::InvalidArgument(
                fmt::format("The demo volume needs at least {} voxels along each axis", MIN_DEMO_SIZE));
        }
    }
    const std::vector<Sphere> spheres = placeSpheres(size);
    const dravik::VectorXu64 shape{size[0], size[1], size[2]};
    DemoDataset data;
    data.grey = dravik::ImageViewFactory::allocate(shape, dravik::DataTypeId::UINT16);
    data.labels = dravik::ImageViewFactory::allocate(shape, dravik::DataTypeId::UINT16);
    auto* grey = static_cast<uint16_t*>(data.grey->buffer());
    auto* labels = static_cast<uint16_t*>(data.labels->buffer());
    fillVolumes(size, spheres, grey, labels);
    data.grey->setProperties(volumeProperties(dravik::DataTypeId::UINT16, dravik::ImageInterpretation::GRAYSCALE, size));
    data.grey->setMetadata(metadataFor("grey levels", spheres.size()));
    auto labelProps = volumeProperties(dravik::DataTypeId::UINT16, dravik::ImageInterpretation::LABEL, size);
    labelProps->imageInfo().setValueRange(0, static_cast<double>(spheres.size()));
    data.labels->setProperties(labelProps);
    data.labels->setMetadata(metadataFor("labels", spheres.size()));
    data.rgb = makeRgb(size, grey);
    data.rgb->setMetadata(metadataFor("colour", spheres.size()));
    data.table = makeTable(size, spheres.size(), grey, labels);
    return data;
}

} // namespace quenza::cli
