#include <dravik/DataAccess.h>
#include <dravik/DataStorage.h>
#include <dravik/Error.h>
#include <dravik/RandomAccess.h>
#include <dravik/StreamAccess.h>

#include <fmt/format.h>

namespace dravik {

namespace {

[[noreturn]] void unsupported(const char* what)
{
    throw NotImplemented(fmt::format("This access does not support {}", what));
}

} // namespace

DataAccess::~DataAccess() = default;
DataStorage::~DataStorage() = default;
StreamAccess::~StreamAccess() = default;
RandomAccess::~RandomAccess() = default;

bool StreamAccess::good() const
{
    return !eof() && !fail();
}
uint8_t StreamAccess::peek()
{
    unsupported("peeking");
}
uint64_t StreamAccess::write(uint64_t /*size*/, const void* /*src*/)
{
    unsupported("writing");
}
void StreamAccess::flush() {}
void StreamAccess::seek(int64_t /*offset*/, SeekOrigin /*origin*/)
{
    unsupported("seeking");
}
void* StreamAccess::buffer()
{
    unsupported("memory access");
}
const void* StreamAccess::bufferReadOnly() const
{
    unsupported("memory access");
}
uint64_t StreamAccess::bufferSize() const
{
    unsupported("memory access");
}

uint64_t RandomAccess::write(uint64_t /*offset*/, uint64_t /*size*/, const void* /*src*/)
{
    unsupported("writing");
}
void RandomAccess::flush() {}
void* RandomAccess::buffer()
{
    unsupported("memory access");
}
const void* RandomAccess::bufferReadOnly() const
{
    unsupported("memory access");
}
uint64_t RandomAccess::bufferSize() const
{
    unsupported("memory access");
}

} // namespace dravik
