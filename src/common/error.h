// The product's error: a number, a source and a description, raised by operations and shown by
// the command that started them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace common {

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}

  std::int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

}  // namespace common
