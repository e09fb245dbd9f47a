// Errors: the one exception base class of the system and the range error.
// Every error carries its message as UTF-8 text; what() returns it unchanged. Depends on nothing.
#pragma once

#include <stdexcept>
#include <string>

// Base of every error the system raises (readers, GL wrappers, display connection, controller).
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& AMessage) : std::runtime_error(AMessage) {}
};

// An index or value outside its permitted range.
class ERangeError : public Exception {
 public:
  using Exception::Exception;
};
