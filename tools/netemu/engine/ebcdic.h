// Character tables of the bank dialogue, written from the protocol's own
// definition so that the emulator checks the program instead of echoing it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korval::netemu {

// ANSI (code page 1252) byte to the EBCDIC byte the program must send.
std::uint8_t AnsiToEbcdic(std::uint8_t ansi);

// EBCDIC byte received to the ANSI byte the program stores.
std::uint8_t EbcdicToAnsi(std::uint8_t ebcdic);

// True when some ANSI byte maps to this EBCDIC byte: anything else on the
// wire cannot have come from a correct conversion.
bool IsProducibleEbcdic(std::uint8_t ebcdic);

std::string EncodeEbcdic(std::string_view ansi);
std::string DecodeEbcdic(std::string_view ebcdic);

}  // namespace korval::netemu
