// The system's exception hierarchy. Every error the program raises on purpose derives from
// Exception and carries only its message; the worker thread drops these (and other
// std::exceptions) silently, while user-interface handlers let them reach the top-level handler.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : fmessage(std::move(message)) {}
    const char* what() const noexcept override { return fmessage.c_str(); }
    const std::string& Message() const noexcept { return fmessage; }

private:
    std::string fmessage;
};

// A text that had to be a number but is not: "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
