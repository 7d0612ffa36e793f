#pragma once

#include <TarnisImageView.h>

#include <common/AbstractExtractorMulti.h>

#include <dravik/DataAccess.h>
#include <dravik/ImageView.h>
#include <dravik/StreamAccess.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quenza::tarnis {

/// A Tarnis file as one or two frames: the main image, then the overlay held in its
/// graphics block when there is one. The frames share the extractor's stream.
class TarnisExtractor : public common::AbstractExtractorMulti {
public:
    /// Opens the file for reading and writing when it can, else for reading. Throws
    /// dravik::InvalidArgument "Invalid file path: {0}" and dravik::Error "Impossible to
    /// open file". Opening changes nothing in the file.
    explicit TarnisExtractor(const std::string& path);
    /// Reads a stream access; throws dravik::InvalidArgument "Invalid storage" for any
    /// other access or a stream that cannot seek.
    explicit TarnisExtractor(std::shared_ptr<dravik::DataAccess> accessor);
    ~TarnisExtractor() override;

    uint64_t frameCount() const override;
    /// Throws dravik::InvalidArgument "Invalid frame index: {0}".
    std::shared_ptr<dravik::ImageView> frame(uint64_t index) override;

private:
    void readImagesFromInternalStorage(const std::string& path);

    std::shared_ptr<dravik::StreamAccess> m_imageStreamAccess;
    uint64_t m_numOfImages = 0;
    std::shared_ptr<TarnisImageView> m_mainImage;
    std::shared_ptr<TarnisImageView> m_overlayImage;
};

} // namespace quenza::tarnis
