// The quenza command line. Plug-ins log to standard output; so that the command's own
// output (JSON above all) stays clean, it keeps the original standard output for itself
// and standard output is pointed at standard error before any plug-in is loaded.

#include "Cli.h"

#include <unistd.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

class FdOutBuffer : public std::streambuf {
public:
    explicit FdOutBuffer(int fd)
        : m_fd(fd)
    {
        setp(m_buffer, m_buffer + sizeof m_buffer);
    }
    ~FdOutBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override
    {
        if (sync() != 0) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override
    {
        const char* p = pbase();
        while (p < pptr()) {
            const ssize_t n = ::write(m_fd, p, static_cast<size_t>(pptr() - p));
            if (n <= 0) {
                return -1;
            }
            p += n;
        }
        setp(m_buffer, m_buffer + sizeof m_buffer);
        return 0;
    }

private:
    int m_fd;
    char m_buffer[1 << 16];
};

} // namespace

int main(int argc, char** argv)
{
    const int outputFd = ::dup(STDOUT_FILENO);
    if (outputFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::cerr << "quenza: cannot set up standard output\n";
        return quenza::cli::EXIT_FAILED;
    }
    int status = quenza::cli::EXIT_FAILED;
    {
        FdOutBuffer buffer(outputFd);
        std::ostream out(&buffer);
        quenza::cli::RunOptions options;
        options.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
        status = quenza::cli::run(std::vector<std::string>(argv + 1, argv + argc), out, std::cerr, options);
        out.flush();
    }
    std::cout.flush();
    ::close(outputFd);
    return status;
}
