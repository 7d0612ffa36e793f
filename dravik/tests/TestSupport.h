#pragma once

#include "StorageTestSupport.h"

#include <dravik/Indexer.h>
#include <dravik/Region.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace dravik::test {

using storagetest::pattern;

/// The packed bytes of `region` of a dense array, element by element.
inline std::vector<uint8_t> expectedRegion(const std::vector<uint8_t>& bytes, const VectorXu64& shape,
                                           const DataType& type, const RegionXu64& region)
{
    const Indexer layout(shape, type);
    const uint64_t e = type.byteCount();
    std::vector<uint8_t> out;
    out.reserve(region.elementCount() * e);
    if (region.isEmpty()) {
        return out;
    }
    VectorXu64 i(region.dimensionCount(), 0);
    for (;;) {
        const uint64_t off = layout.offset(region.origin() + i);
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(off),
                   bytes.begin() + static_cast<std::ptrdiff_t>(off + e));
        size_t axis = 0;
        for (; axis < i.size(); ++axis) {
            if (++i[axis] < region.size()[axis]) {
                break;
            }
            i[axis] = 0;
        }
        if (axis == i.size()) {
            return out;
        }
    }
}

/// A file that is removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::string& name, const std::vector<uint8_t>& bytes = {})
        : m_path(::testing::TempDir() + "/" + name)
    {
        storagetest::writeFile(m_path, bytes);
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace dravik::test
