// Programs the tests run: the tool, the scripts, the test servers. Output goes to files in a
// scratch folder of the child's own, so a chatty child never blocks on a full pipe.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

#include "support/portable/scratch_folder.h"

namespace quorel::test {

struct ChildResult {
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  // Starts arguments[0] with the rest as its arguments. Its standard input is a pipe that this
  // object holds open until CloseInput or Finish. errorOnTerminal makes its standard error a
  // terminal (a pseudo-terminal whose output is collected as err). output, when given, is the
  // descriptor the child gets as its standard output instead of a file (out stays empty).
  explicit ChildProcess(const std::vector<std::string>& arguments, bool errorOnTerminal = false,
                        int output = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // True until the child has exited (an ended child stays for Finish to collect).
  bool Running() const;
  void WriteInput(const std::string& text);
  void CloseInput();
  void Signal(int signal);
  // Waits for a line of the child's standard output that starts with prefix; false when the
  // child ends without one.
  bool AwaitOutputLine(const std::string& prefix);
  // What the child has written so far (exitCode stays -1).
  ChildResult Written() const;
  // Waits for the child's end; usage, when given, receives what the kernel counted for it.
  ChildResult Finish(rusage* usage = nullptr);

 private:
  ScratchFolder folder_;
  pid_t pid_ = -1;
  int input_ = -1;
  std::string outPath_;
  std::string errPath_;
  std::thread terminalReader_;  // copies the terminal's output to errPath_
};

ChildResult RunChild(const std::vector<std::string>& arguments);

// A field of the process's /proc status counted in kB (VmRSS, VmHWM); -1 when there is none.
long StatusKilobytes(pid_t pid, const std::string& field);

}  // namespace quorel::test
