// What the add-in tells the user on stderr: warnings (it goes on), failures
// (what was asked for did not happen) and message boxes shown without a
// display. Each is exactly one line, whatever line ends its text holds, so
// a host or a script that logs stderr sees one line per event.
#pragma once

#include <string>
#include <vector>

namespace zavo {

// `text` on one line: every run of CR and LF becomes " / ".
std::string FoldToOneLine(const std::string& text);

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;

  // "zavo: warning: <text>".
  void Warning(const std::string& text) { WriteLine("zavo: warning: " + FoldToOneLine(text)); }
  // "zavo: <what>: <text>", `what` naming the step or the box's title.
  void Failure(const std::string& what, const std::string& text) {
    WriteLine("zavo: " + what + ": " + FoldToOneLine(text));
  }
  // "<title>: <text>": a message box where no box can be shown.
  void Message(const std::string& title, const std::string& text) {
    WriteLine(title + ": " + FoldToOneLine(text));
  }

 protected:
  // One finished line, without its line end.
  virtual void WriteLine(const std::string& line) = 0;
};

class StderrDiagnostics : public Diagnostics {
 protected:
  void WriteLine(const std::string& line) override;
};

// Keeps the lines instead of writing them, for tests.
class RecordingDiagnostics : public Diagnostics {
 public:
  std::vector<std::string> lines;

 protected:
  void WriteLine(const std::string& line) override { lines.push_back(line); }
};

// Where this process's diagnostics go: stderr unless a ScopedDiagnostics
// says otherwise. One process-wide sink rather than a parameter, because the
// warnings start deep in the settings, imaging and display code.
Diagnostics& CurrentDiagnostics();

// Sends the process's diagnostics to `sink` for the scope's lifetime.
class ScopedDiagnostics {
 public:
  explicit ScopedDiagnostics(Diagnostics& sink);
  ~ScopedDiagnostics();
  ScopedDiagnostics(const ScopedDiagnostics&) = delete;
  ScopedDiagnostics& operator=(const ScopedDiagnostics&) = delete;

 private:
  Diagnostics* previous_;
};

}  // namespace zavo
