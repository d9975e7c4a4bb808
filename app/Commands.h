#pragma once
// What the Unzip and Zip commands need from the window while they run, without
// depending on it: a place to say where they are, and the chance to let the
// window's messages run. Tests use the silent default.

#include <string>

class IProgressSink {
 public:
  virtual ~IProgressSink() = default;
  // Item Index (from 0) of Count begins: an archive of the Unzip command, a
  // file of the Zip command.
  virtual void BeginItem(int Index, int Count, const std::string& Path) { (void)Index, (void)Count, (void)Path; }
  // Lets pending window messages run (painting, input).
  virtual void Pump() {}
};
