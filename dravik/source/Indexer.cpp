#include <dravik/Error.h>
#include <dravik/Indexer.h>

#include <fmt/format.h>

namespace dravik {

Indexer::Indexer(const VectorXu64& shape, const DataType& type)
    : m_shape(shape)
    , m_type(type)
    , m_strides(denseStrides(shape, type.byteCount()))
{
}

Indexer::Indexer(const VectorXu64& shape, const DataType& type, const VectorXu64& strides)
    : m_shape(shape)
    , m_type(type)
    , m_strides(strides)
{
    if (strides.size() != shape.size()) {
        throw InvalidArgument(fmt::format("Indexer needs one stride per dimension: {} strides for shape ({})",
                                          strides.size(), shape.toString()));
    }
}

VectorXu64 Indexer::denseStrides(const VectorXu64& shape, uint64_t elementBytes)
{
    VectorXu64 strides(shape.size());
    uint64_t stride = elementBytes;
    for (size_t i = 0; i < shape.size(); ++i) {
        strides[i] = stride;
        if (shape[i] != 0 && stride > UINT64_MAX / shape[i]) {
            throw InvalidArgument(fmt::format("Shape ({}) is too large to be addressed", shape.toString()));
        }
        stride *= shape[i];
    }
    return strides;
}

uint64_t Indexer::elementCount() const
{
    if (m_shape.empty()) {
        return 0;
    }
    return m_shape.prod();
}

uint64_t Indexer::byteCount() const
{
    if (elementCount() == 0) {
        return 0;
    }
    uint64_t span = m_type.byteCount();
    for (size_t i = 0; i < m_shape.size(); ++i) {
        span = std::max(span, m_strides[i] * m_shape[i]);
    }
    return span;
}

uint64_t Indexer::offset(const VectorXu64& index) const
{
    if (index.size() != m_shape.size()) {
        throw InvalidArgument(fmt::format("Index ({}) does not match shape ({})", index.toString(),
                                          m_shape.toString()));
    }
    uint64_t offset = 0;
    for (size_t i = 0; i < index.size(); ++i) {
        if (index[i] >= m_shape[i]) {
            throw InvalidArgument(fmt::format("Index ({}) is outside shape ({})", index.toString(),
                                              m_shape.toString()));
        }
        offset += index[i] * m_strides[i];
    }
    return offset;
}

bool Indexer::isDense() const
{
    return m_strides == denseStrides(m_shape, m_type.byteCount());
}

} // namespace dravik
