#pragma once

#include <TarnisFormat.h>

#include <dravik/ImageView.h>
#include <dravik/MetadataNode.h>
#include <dravik/StreamAccess.h>
#include <dravik/VariantDataValue.h>
#include <dravik/View.h>
#include <dravik/Writer.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenza::tarnis {

/// Writes one image as a version 6 Tarnis file, strictly in order: descriptor
/// (writeInit), pixel planes (writeData), header text, calibration and look-up tables
/// (writeFinish). The output need not seek.
class TarnisWriter : public dravik::Writer {
public:
    static const std::string s_name;
    static const std::string s_version;

    /// Throws dravik::Error "Unsupported view" when `view` is not an image view.
    TarnisWriter(std::shared_ptr<dravik::View> view, std::shared_ptr<dravik::StreamAccess> output);
    ~TarnisWriter() override;

    void writeAll() override;
    /// Checks the image as the descriptor does and writes the descriptor.
    void writeInit() override;
    void writeData() override;
    void writeFinish() override;
    std::string name() const override;
    std::string version() const override;
    /// Always throws dravik::Error: the format has no options.
    void setOption(const std::string& name, std::shared_ptr<dravik::VariantDataValue> value) override;

private:
    void write(size_t size, const void* buffer, const std::string& errorMessage);

    std::shared_ptr<dravik::View> m_view;
    std::shared_ptr<dravik::StreamAccess> m_outputStorage;
    std::shared_ptr<dravik::ImageView> m_imageView;
    std::shared_ptr<const dravik::MetadataNode> m_tarnisMetadataNode;
    int8_t m_indexInShape[5] = {-1, -1, -1, -1, -1};
    V6desc_im m_tarnis6Description{};
    mcalib m_calibration{};
    std::string m_fullHeader;
    std::string m_lutName;
    std::vector<uint16_t> m_lutR;
    std::vector<uint16_t> m_lutG;
    std::vector<uint16_t> m_lutB;
};

} // namespace quenza::tarnis
