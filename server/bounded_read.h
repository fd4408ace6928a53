#pragma once
// Reads files whose size and kind the server does not control: a tree file
// may be a pipe, a device or something far larger than any tree.
#include <cstddef>
#include <stdexcept>
#include <string>

namespace velnor::server {

class BoundedReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content of `path`, refusing a directory and anything longer
// than `limit` bytes (an endless device such as /dev/zero included) without
// reading more than one byte past the limit. `what` names the file in
// messages ("the tree file"). Throws BoundedReadError.
std::string ReadBoundedFile(const std::string& path, std::size_t limit, const std::string& what);

// "64 MiB" for whole mebibytes, else "N bytes".
std::string SizeText(std::size_t bytes);

}  // namespace velnor::server
