#pragma once
// One random exchange on the simulated platform: the kind of job, its file or
// statement, the site's settings and a fault schedule, all drawn from a source of
// choices (a seeded generator for the soak, the fuzzer's input for the fuzz target),
// then run to its end and checked against what must hold whatever happened.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korval::soak {

// Where the choices come from.
class Draw {
 public:
  virtual ~Draw() = default;
  // A number from 0 to n - 1 (n >= 1).
  virtual std::uint64_t Below(std::uint64_t n) = 0;
  bool Chance(unsigned percent) { return Below(100) < percent; }
  std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
    return low + Below(high - low + 1);
  }
};

enum class Fault {
  kDropAtStep,    // the far end hangs up at a step of the dialogue
  kDropAtByte,    // in the middle of the records or of the statement
  kSilence,       // the far end stops answering at a step
  kNoise,         // noise bytes instead of an answer
  kRefusal,       // the bank refuses the card
  kNoConnection,  // the call never connects in time, or is busy
  kShortWrite,    // a write on the port goes out in part
  kReadErrors,    // reads of the port fail
  kStatementDiskFull,
  kJobFileUnwritable,
  kCloseRequest,  // the user closes the window
  kCount,
};
inline constexpr std::size_t kFaultKinds = static_cast<std::size_t>(Fault::kCount);
const char* FaultName(Fault fault);

struct Scenario {
  char action = 'R';  // R, L, V, D
  bool nt = true;
  bool profile7 = false;
  std::string nui;         // empty: none
  std::string complement;  // empty: none
  // Send: the file (missing when absent).
  std::optional<std::string> file;
  // Statement: what the bank sends, and how.
  std::string statement;
  std::size_t chunk_size = 128;
  std::uint64_t chunk_pace_ms = 20;
  std::uint64_t statement_delay_ms = 200;
  std::optional<std::string> previous_statement;

  std::vector<Fault> faults;
  int step = 0;                 // kDropAtStep, kSilence, kNoise: the step's index
  std::size_t at_count = 0;     // kDropAtByte: records or bytes; kStatementDiskFull: bytes
  std::uint64_t at_ms = 0;      // the timed faults: when, in virtual time
  std::size_t fault_size = 1;   // kShortWrite: bytes written; kReadErrors: reads failed
  bool late_connection = true;  // kNoConnection: connects too late (else busy)

  bool Has(Fault fault) const;
  std::string Describe() const;
};

Scenario DrawScenario(Draw& draw);

struct Outcome {
  std::vector<std::string> violations;
  bool succeeded = false;  // Retour=1
  std::uint64_t virtual_ms = 0;
  std::uint64_t bound_ms = 0;
};

Outcome RunScenario(const Scenario& scenario);

}  // namespace korval::soak
