#pragma once

#include <dravik/Error.h>
#include <dravik/StreamAccess.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

// Helpers shared by the stream, random-access and storage tests.

namespace storagetest {

/// A fresh directory under the test temporary directory, removed with its content.
class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::path(::testing::TempDir()) / "dravik-storage-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + pattern);
        }
        m_path = pattern;
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// Bytes without period, so that a misplaced offset shows as a mismatch.
inline std::vector<uint8_t> pattern(size_t size, uint32_t seed = 0x9e3779b9u)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed | 1u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

inline std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, uint64_t offset, uint64_t size)
{
    if (offset >= bytes.size()) {
        return {};
    }
    const uint64_t end = offset + std::min<uint64_t>(size, bytes.size() - offset);
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

// Files are written and read back with the standard library, independently of the code under test.
inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Everything from the current position to the end, read in pieces of `chunk` bytes.
inline std::vector<uint8_t> readToEnd(dravik::StreamAccess& stream, size_t chunk = 4096)
{
    std::vector<uint8_t> all;
    std::vector<uint8_t> piece(chunk);
    for (;;) {
        const uint64_t got = stream.read(chunk, piece.data());
        all.insert(all.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < chunk) {
            return all;
        }
    }
}

inline std::string systemText(int error)
{
    return std::generic_category().message(error);
}

/// Where a seek from `origin` counts from.
inline int64_t baseOf(dravik::SeekOrigin origin, int64_t current, int64_t end)
{
    switch (origin) {
    case dravik::SeekOrigin::BEGIN:
        return 0;
    case dravik::SeekOrigin::CURRENT:
        return current;
    case dravik::SeekOrigin::END:
        break;
    }
    return end;
}

/// A stream the factories know nothing about, as a plug-in might bring its own.
class ForeignStream : public dravik::StreamAccess {
public:
    ForeignStream(std::vector<uint8_t> bytes, dravik::StreamAccessCapabilitySet capabilities)
        : m_bytes(std::move(bytes))
        , m_capabilities(capabilities)
    {
    }

    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return "foreign"; }
    dravik::StreamAccessCapabilitySet capabilities() const override { return m_capabilities; }
    bool eof() const override { return m_eof; }
    bool fail() const override { return false; }
    uint64_t read(uint64_t size, void* dst) override
    {
        const uint64_t count = m_position < m_bytes.size() ? std::min<uint64_t>(size, m_bytes.size() - m_position) : 0;
        if (count > 0) {
            std::memcpy(dst, m_bytes.data() + m_position, count);
        }
        m_position += count;
        m_eof = count < size;
        return count;
    }
    uint64_t write(uint64_t size, const void* src) override
    {
        if (m_bytes.size() < m_position + size) {
            m_bytes.resize(m_position + size);
        }
        std::memcpy(m_bytes.data() + m_position, src, size);
        m_position += size;
        return size;
    }
    uint64_t tell() const override { return m_position; }
    void seek(int64_t offset, dravik::SeekOrigin origin) override
    {
        const int64_t base = baseOf(origin, static_cast<int64_t>(m_position), static_cast<int64_t>(m_bytes.size()));
        if (base + offset < 0) {
            throw dravik::Error("negative position");
        }
        m_position = static_cast<uint64_t>(base + offset);
        m_eof = false;
    }

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    dravik::StreamAccessCapabilitySet m_capabilities;
    uint64_t m_position = 0;
    bool m_eof = false;
};

} // namespace storagetest

namespace storagetest {

/// Compares byte vectors, reporting the first difference instead of the whole content.
inline ::testing::AssertionResult sameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected)
{
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < common; ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure()
                << "byte " << i << " is " << int(actual[i]) << ", expected " << int(expected[i]);
        }
    }
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
    }
    return ::testing::AssertionSuccess();
}

/// The message of the dravik::Error that `operation` throws, or a note that it threw none.
template <typename Operation>
std::string errorMessageOf(Operation operation)
{
    try {
        operation();
    } catch (const dravik::Error& error) {
        return error.what();
    }
    return "<no dravik::Error thrown>";
}

} // namespace storagetest

namespace storagetest {

/// Read system calls made so far by this process (read, pread...), or -1 when the
/// system does not count them.
inline long readSystemCalls()
{
    std::ifstream in("/proc/self/io");
    std::string key;
    long value = 0;
    while (in >> key >> value) {
        if (key == "syscr:") {
            return value;
        }
    }
    return -1;
}

} // namespace storagetest
