// Czech calendar names for date texts.
#pragma once

#include <array>

inline constexpr std::array<const char*, 12> MonthNames{"Leden",    "Únor",  "Březen", "Duben", "Květen",   "Červen",
                                                        "Červenec", "Srpen", "Září",   "Říjen", "Listopad", "Prosinec"};
inline constexpr std::array<const char*, 12> MonthNamesGenitive{"ledna",  "února",  "března",    "dubna",
                                                                "května", "června", "července",  "srpna",
                                                                "září",   "října",  "listopadu", "prosince"};
inline constexpr std::array<const char*, 12> MonthNamesAccel{"&Leden",  "Ú&nor",   "&Březen",   "&Duben",
                                                             "&Květen", "Č&erven", "Če&rvenec", "&Srpen",
                                                             "&Září",   "Ří&jen",  "L&istopad", "&Prosinec"};
inline constexpr std::array<const char*, 7> DayNames{"Pondělí", "Úterý",  "Středa", "Čtvrtek",
                                                     "Pátek",   "Sobota", "Neděle"};
