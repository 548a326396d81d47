#pragma once
// sim: a pseudo-terminal for the simulated line. The simulator serves the master side;
// a Modbus master opens the slave side's path as if it were a serial port.

#include <string>

#include "util/result.h"

namespace tarvel::sim {

class PseudoTerminal {
 public:
  // Both ends raw (a new pseudo-terminal starts in cooked mode, where 0A becomes 0D 0A),
  // the master side non-blocking.
  static Result<PseudoTerminal> Open();

  PseudoTerminal(PseudoTerminal&& other) noexcept;
  PseudoTerminal& operator=(PseudoTerminal&& other) noexcept;
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  ~PseudoTerminal();

  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

 private:
  PseudoTerminal() = default;
  void Close();

  int master_ = -1;
  // Held open for the pseudo-terminal's whole life: while no program has the slave side
  // open, reads on the master side fail with EIO, so a master program that opens and
  // closes the device would otherwise knock the simulator off the line.
  int slaveKeeper_ = -1;
  std::string slavePath_;
};

}  // namespace tarvel::sim
