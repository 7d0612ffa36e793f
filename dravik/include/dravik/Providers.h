#pragma once

#include <dravik/DataAccess.h>
#include <dravik/DataFrameView.h>
#include <dravik/ImageView.h>
#include <dravik/LodImageView.h>
#include <dravik/MultiImageView.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>
#include <dravik/View.h>

#include <memory>

// Tests and conversions of the general view and access handles into their kinds.
// Each `to...` gives the same object seen as that kind, or empty when it is not one.

namespace dravik {

class ImageViewProvider {
public:
    static bool isImage(const std::shared_ptr<View>& v) { return toImage(v) != nullptr; }
    static std::shared_ptr<ImageView> toImage(const std::shared_ptr<View>& v)
    {
        return std::dynamic_pointer_cast<ImageView>(v);
    }
};

class MultiImageViewProvider {
public:
    static bool isMultiImage(const std::shared_ptr<View>& v) { return toMultiImage(v) != nullptr; }
    static std::shared_ptr<MultiImageView> toMultiImage(const std::shared_ptr<View>& v)
    {
        return std::dynamic_pointer_cast<MultiImageView>(v);
    }
};

class LodImageViewProvider {
public:
    static bool isLod(const std::shared_ptr<View>& v) { return toLod(v) != nullptr; }
    static std::shared_ptr<LodImageView> toLod(const std::shared_ptr<View>& v)
    {
        return std::dynamic_pointer_cast<LodImageView>(v);
    }
};

class DataFrameViewProvider {
public:
    static bool isDataFrame(const std::shared_ptr<View>& v) { return toDataFrame(v) != nullptr; }
    static std::shared_ptr<DataFrameView> toDataFrame(const std::shared_ptr<View>& v)
    {
        return std::dynamic_pointer_cast<DataFrameView>(v);
    }
};

class StreamAccessProvider {
public:
    static bool isStream(const std::shared_ptr<DataAccess>& a) { return toStream(a) != nullptr; }
    static std::shared_ptr<StreamAccess> toStream(const std::shared_ptr<DataAccess>& a)
    {
        return std::dynamic_pointer_cast<StreamAccess>(a);
    }
};

class RandomAccessProvider {
public:
    static bool isRandom(const std::shared_ptr<DataAccess>& a) { return toRandom(a) != nullptr; }
    static std::shared_ptr<RandomAccess> toRandom(const std::shared_ptr<DataAccess>& a)
    {
        return std::dynamic_pointer_cast<RandomAccess>(a);
    }
};

} // namespace dravik
