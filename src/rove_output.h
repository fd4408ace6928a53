#pragma once
// Standard output of the tool. What std::cout writes goes on to stdout at
// once, as with the standard synchronised buffer, and the errno of the
// first write that fails is kept: taken where the write failed, since by
// the time the failure is reported errno tells of other calls.
#include <string>

namespace rove_output {

// Routes std::cout through the errno-keeping buffer; once, before anything
// is written to it.
void Install();

// The errno of the first failed write to standard output; 0 while none failed.
int FirstFailure();
// Keeps `error` unless an earlier failure was kept (0 counts as EIO).
void NoteFailure(int error);

// Flushes std::cout and stdout; false when a write to standard output has
// failed, now or before.
bool Good();
// "Can't write to standard output: " and the reason of the first failure.
std::string FailureText();

// The failure is reported once: by the command's error, when it ended the
// command, else at exit.
void NoteFailureReported();
bool FailureReported();

}  // namespace rove_output
