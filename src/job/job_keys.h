#pragma once
// The job file's and win.ini's keys, with the room each read is given.

#include <cstddef>

namespace korval::job {

inline constexpr const char* kSection = "KORVAL";

inline constexpr const char* kSubscriberKey = "NumeroAbonne";
inline constexpr const char* kActionKey = "TypeAction";
inline constexpr const char* kCardKey = "CarteParametre";
inline constexpr const char* kFileKey = "FichierAssocie";
inline constexpr const char* kResultKey = "Retour";
inline constexpr const char* kDetail1Key = "Detail1";
inline constexpr const char* kDetail2Key = "Detail2";

inline constexpr const char* kDialNumberKey = "NUMTRANSPAC";
inline constexpr const char* kProfile7Key = "PROFIL7";

inline constexpr std::size_t kSubscriberMax = 31;
inline constexpr std::size_t kDialNumberMax = 11;
inline constexpr std::size_t kFilePathMax = 79;
inline constexpr std::size_t kActionCapacity = 9;
inline constexpr std::size_t kCardCapacity = 89;
inline constexpr std::size_t kCardLength = 80;
// Values are read with more room than they may hold, so that an overlong one is
// refused instead of being cut into another number or another file's name.
inline constexpr std::size_t kOverlongProbeCapacity = 1024;

// The network's national dial-in number, used when win.ini gives none.
inline constexpr const char* kDefaultDialNumber = "0836064545";

}  // namespace korval::job
