#pragma once
#include <string>

namespace korval {
struct Process;
}

namespace korval::exchange {

// Sends the 80-character card in EBCDIC and reads the bank's verdict into Detail1 and
// Detail2: 1 when accepted (the call stays up), 0 when refused or unanswered (the
// call has been hung up).
int SendParameterCard(Process& process, const std::string& card);
// The end-of-record signal: a carriage return, or under profile 7 a 2000 ms break
// after 2000 ms of quiet.
void EndRecord(Process& process);
// A code of blanks, or none at all, is "9999"; a code ends at a line end.
std::string NormaliseCode(std::string code);

}  // namespace korval::exchange
