// GenICam exceptions: the description names what failed; what() adds the kind in front.
#include <GenICam/GCException.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace GenICam {

GenericException::GenericException(std::string description, std::string source_file, unsigned source_line)
    : GenericException("GenericException", std::move(description), std::move(source_file), source_line) {}

GenericException::GenericException(const char* kind, std::string description, std::string source_file,
                                   unsigned source_line)
    : description_(std::move(description)),
      source_file_(std::move(source_file)),
      source_line_(source_line),
      what_(std::string(kind) + ": " + description_) {}

namespace detail {

std::string format_description(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(size));
    }
    va_end(args);
    return text;
}

} // namespace detail
} // namespace GenICam
