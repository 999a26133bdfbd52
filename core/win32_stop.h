#pragma once
// Windows builds only: the reads and writes that a stop may cut short.
// A thread holds a stoppable_call for as long as it is inside such a call
// (file_win32.cpp's read_at and write_all); interrupt_thread() and a console
// stop cancel the thread's blocked call (CancelSynchronousIo) only then, so
// that nothing else the thread does (creating or removing a piece) is ever
// cancelled. The call fails with ERROR_OPERATION_ABORTED; its caller tells
// that from a failure by the stop it asked for.

namespace quorrel {

class stoppable_call {
 public:
  stoppable_call();
  ~stoppable_call();
  stoppable_call(const stoppable_call&) = delete;
  stoppable_call& operator=(const stoppable_call&) = delete;

 private:
  int slot_;  // in the table of threads inside such a call, -1 when it was full
};

}  // namespace quorrel
