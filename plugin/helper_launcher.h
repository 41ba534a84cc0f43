// Starting the helper program hidden, with the user's rights, in the application's
// kill-on-close job. A seam, so that the launched-helper slot's sharing runs in
// native tests; Win32HelperLauncher (plugin/win32_helper_launcher.h) is the real one.
#pragma once

#include <cstdint>
#include <memory>

namespace pelno {

// One started helper program; the object holds its process handle.
class HelperProcess {
 public:
  virtual ~HelperProcess() = default;
  virtual std::uint32_t ProcessId() const = 0;
  virtual bool HasExited() const = 0;
  // Terminates it and waits a little for it to be gone.
  virtual void End() = 0;
};

class HelperLauncher {
 public:
  virtual ~HelperLauncher() = default;
  // Null when the program can't be found or started.
  virtual std::unique_ptr<HelperProcess> Launch() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace pelno
