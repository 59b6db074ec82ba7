#pragma once

#include <string>

namespace tw {

// A failed system call on a file, rendered the two ways the helper reports errors.
class PosixError {
  public:
    PosixError(int code, std::string path) : code_(code), path_(std::move(path)) {}

    int code() const { return code_; }
    // The system's text alone, for example "No such file or directory".
    std::string localizedDescription() const;
    // Domain, code, the system's text and the path, for example
    // Error Domain=POSIX Code=2 "No such file or directory" path=/x
    std::string fullDescription() const;

  private:
    int code_;
    std::string path_;
};

}  // namespace tw
