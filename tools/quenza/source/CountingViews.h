#pragma once

#include "ProgressMeter.h"

#include <dravik/View.h>

#include <cstdint>
#include <memory>

namespace quenza::cli {

/// What reading all of `view` amounts to for a progress meter: the bytes of an image or
/// of every frame of a sequence, the cells of a table (0 for any other view).
uint64_t readAmount(dravik::View& view);
/// The unit of readAmount for `view`.
ProgressMeter::Unit readUnit(dravik::View& view);

/// `view` behind a pass-through view that tells `meter` what each read takes from it,
/// so that a writer shows progress without knowing about it. Images, sequences of
/// images and tables are wrapped; the wrapper only reads (no write, no memory access),
/// and hands out the extensions of the view it wraps. Any other view comes back as it is.
std::shared_ptr<dravik::View> countReads(std::shared_ptr<dravik::View> view, std::shared_ptr<ProgressMeter> meter);

} // namespace quenza::cli
