#include <dravik/Error.h>

namespace dravik {

Error::Error(const std::string& message)
    : std::runtime_error(message)
{
}
Error::Error(const char* message)
    : std::runtime_error(message)
{
}
Error::~Error() = default;

InvalidArgument::InvalidArgument(const std::string& message)
    : Error(message)
{
}
InvalidArgument::InvalidArgument(const char* message)
    : Error(message)
{
}
InvalidArgument::~InvalidArgument() = default;

NotImplemented::NotImplemented(const std::string& message)
    : Error(message)
{
}
NotImplemented::NotImplemented(const char* message)
    : Error(message)
{
}
NotImplemented::~NotImplemented() = default;

} // namespace dravik
