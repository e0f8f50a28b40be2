// GenICam exception classes. Every SDK failure is raised as one of these; each
// carries a description that names what failed (the feature, the file, the value).
#pragma once

#include <exception>
#include <string>

namespace GenICam {

using gcstring = std::string;

class GenericException : public std::exception {
public:
    explicit GenericException(std::string description, std::string source_file = {}, unsigned source_line = 0);
    // The description alone, without the exception kind.
    const char* GetDescription() const noexcept { return description_.c_str(); }
    // The exception kind followed by the description.
    const char* what() const noexcept override { return what_.c_str(); }
    const char* GetSourceFileName() const noexcept { return source_file_.c_str(); }
    unsigned GetSourceLine() const noexcept { return source_line_; }

protected:
    GenericException(const char* kind, std::string description, std::string source_file, unsigned source_line);

private:
    std::string description_;
    std::string source_file_;
    unsigned source_line_ = 0;
    std::string what_;
};

// The kinds are siblings below GenericException, as in the field's GenApi: a handler for
// RuntimeException does not see an AccessException.
#define GENICAM_DECLARE_EXCEPTION(kind)                                                        \
    class kind : public GenericException {                                                     \
    public:                                                                                    \
        explicit kind(std::string description, std::string source_file = {}, unsigned line = 0) \
            : GenericException(#kind, std::move(description), std::move(source_file), line) {} \
    };

GENICAM_DECLARE_EXCEPTION(BadAllocException)
GENICAM_DECLARE_EXCEPTION(InvalidArgumentException)
GENICAM_DECLARE_EXCEPTION(OutOfRangeException)
GENICAM_DECLARE_EXCEPTION(PropertyException)
GENICAM_DECLARE_EXCEPTION(RuntimeException)
GENICAM_DECLARE_EXCEPTION(LogicalErrorException)
GENICAM_DECLARE_EXCEPTION(AccessException)
GENICAM_DECLARE_EXCEPTION(TimeoutException)
GENICAM_DECLARE_EXCEPTION(DynamicCastException)

#undef GENICAM_DECLARE_EXCEPTION

} // namespace GenICam

// Raise an exception of the given kind with a printf-style description, recording the source position.
#define GCEXCEPTION_KIND(kind, ...) ::GenICam::kind(::GenICam::detail::format_description(__VA_ARGS__), __FILE__, __LINE__)
#define RUNTIME_EXCEPTION(...) GCEXCEPTION_KIND(RuntimeException, __VA_ARGS__)
#define LOGICAL_ERROR_EXCEPTION(...) GCEXCEPTION_KIND(LogicalErrorException, __VA_ARGS__)
#define ACCESS_EXCEPTION(...) GCEXCEPTION_KIND(AccessException, __VA_ARGS__)
#define OUT_OF_RANGE_EXCEPTION(...) GCEXCEPTION_KIND(OutOfRangeException, __VA_ARGS__)
#define INVALID_ARGUMENT_EXCEPTION(...) GCEXCEPTION_KIND(InvalidArgumentException, __VA_ARGS__)
#define TIMEOUT_EXCEPTION(...) GCEXCEPTION_KIND(TimeoutException, __VA_ARGS__)

namespace GenICam::detail {
std::string format_description(const char* format, ...) __attribute__((format(printf, 1, 2)));
}
