#include <VxtHandle.h>

namespace quenza::vxt {

namespace {

void putLittleEndian(uint64_t value, uint8_t* out)
{
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t getLittleEndian(const uint8_t* in)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

} // namespace

std::vector<uint8_t> VxtHandle::encodeTable(const std::vector<DataCompressInfo>& table)
{
    std::vector<uint8_t> bytes(table.size() * TABLE_ENTRY_BYTES);
    for (size_t i = 0; i < table.size(); ++i) {
        uint8_t* entry = bytes.data() + i * TABLE_ENTRY_BYTES;
        putLittleEndian(table[i].offset, entry);
        putLittleEndian(table[i].size, entry + 8);
        putLittleEndian(table[i].reserved, entry + 16);
    }
    return bytes;
}

std::vector<VxtHandle::DataCompressInfo> VxtHandle::decodeTable(const uint8_t* bytes, uint64_t count)
{
    std::vector<DataCompressInfo> table(count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = bytes + i * TABLE_ENTRY_BYTES;
        table[i].offset = getLittleEndian(entry);
        table[i].size = getLittleEndian(entry + 8);
        table[i].reserved = getLittleEndian(entry + 16);
    }
    return table;
}

} // namespace quenza::vxt
