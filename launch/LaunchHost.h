// What the launch commands need of the window they run over.
#pragma once

#include <string>

class LaunchHost {
 public:
  // Status bar panel 0 names the device, panel 1 its program image.
  virtual void SetStatus(int panel, const std::string& text) = 0;
  // Out of sight while the tool runs, then back where it was.
  virtual void StepAside() = 0;
  virtual void ComeBack() = 0;

 protected:
  ~LaunchHost() = default;
};
