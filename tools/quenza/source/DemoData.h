#pragma once

#include <dravik/DataFrameView.h>
#include <dravik/ImageView.h>
#include <dravik/Vector.h>

#include <cstdint>
#include <memory>

namespace quenza::cli {

/// The synthetic data of `quenza demo`, made in memory from nothing but its size.
struct DemoDataset {
    /// 16-bit grey levels: a smooth background, spheres of different brightness, noise.
    std::shared_ptr<dravik::ImageView> grey;
    /// The label of every voxel of `grey`: 0 for the background, i for sphere i.
    std::shared_ptr<dravik::ImageView> labels;
    /// A 2-D colour picture of the middle slice: hue from the angle around the centre,
    /// brightness from the grey levels.
    std::shared_ptr<dravik::ImageView> rgb;
    /// One row per label: label, name, voxels, volume, mean grey level, centroid x, y, z.
    std::shared_ptr<dravik::DataFrameView> table;
};

/// The smallest size along an axis, so that every sphere fits.
constexpr uint64_t MIN_DEMO_SIZE = 16;

/// The dataset for a volume of `size` (x, y, z), each at least MIN_DEMO_SIZE. The same
/// size always gives the same data.
DemoDataset makeDemoDataset(const dravik::Vector3u64& size);

} // namespace quenza::cli
