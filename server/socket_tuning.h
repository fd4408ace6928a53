#pragma once
// Socket settings the ORB gives no option for.
namespace velnor::server {

// From now on every connection the ORB accepts on its unix socket sends
// through a buffer of `bytes`. The kernel's default (some 208 KiB) splits a
// signal block of 256 KiB over two waits for the reader.
void SetUnixSendBuffer(int bytes);

}  // namespace velnor::server
