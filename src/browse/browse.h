#pragma once
// velnor-rove browse: a live terminal browser of the registry. The entry
// the program hands to the command frame (SetBrowseEntry).
namespace browse {

// Runs the browser on the terminal of standard input and output, with the
// options of g_params; gives the exit status. Not a terminal: "browse
// needs a terminal", status 1.
int RunBrowse();

}  // namespace browse
