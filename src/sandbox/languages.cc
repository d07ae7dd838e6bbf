#include "sandbox/languages.h"

#include "sandbox/collation.h"

namespace sandbox {

namespace {

using enum DateOrder;

// The rows of the server's syslanguages for the languages the sandbox installs.
const Language kLanguages[] = {
    {0,
     "us_english",
     "English",
     kMdy,
     7,
     1033,
     1033,
     {"January", "February", "March", "April", "May", "June", "July", "August", "September",
      "October", "November", "December"},
     {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
     {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"}},
    {1,
     "Deutsch",
     "German",
     kDmy,
     1,
     1031,
     1031,
     {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September", "Oktober",
      "November", "Dezember"},
     {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
     {"Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag", "Sonntag"}},
    {2,
     "Français",
     "French",
     kDmy,
     1,
     1036,
     1036,
     {"janvier", "février", "mars", "avril", "mai", "juin", "juillet", "août", "septembre",
      "octobre", "novembre", "décembre"},
     {"janv", "févr", "mars", "avr", "mai", "juin", "juil", "août", "sept", "oct", "nov", "déc"},
     {"lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi", "dimanche"}},
    {5,
     "Español",
     "Spanish",
     kDmy,
     1,
     3082,
     3082,
     {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
      "Octubre", "Noviembre", "Diciembre"},
     {"Ene", "Feb", "Mar", "Abr", "May", "Jun", "Jul", "Ago", "Sep", "Oct", "Nov", "Dic"},
     {"Lunes", "Martes", "Miércoles", "Jueves", "Viernes", "Sábado", "Domingo"}},
    {6,
     "Italiano",
     "Italian",
     kDmy,
     1,
     1040,
     1040,
     {"gennaio", "febbraio", "marzo", "aprile", "maggio", "giugno", "luglio", "agosto", "settembre",
      "ottobre", "novembre", "dicembre"},
     {"gen", "feb", "mar", "apr", "mag", "giu", "lug", "ago", "set", "ott", "nov", "dic"},
     {"lunedì", "martedì", "mercoledì", "giovedì", "venerdì", "sabato", "domenica"}},
    {7,
     "Nederlands",
     "Dutch",
     kDmy,
     1,
     1043,
     1043,
     {"januari", "februari", "maart", "april", "mei", "juni", "juli", "augustus", "september",
      "oktober", "november", "december"},
     {"jan", "feb", "mrt", "apr", "mei", "jun", "jul", "aug", "sep", "okt", "nov", "dec"},
     {"maandag", "dinsdag", "woensdag", "donderdag", "vrijdag", "zaterdag", "zondag"}},
    {23,
     "British",
     "British English",
     kDmy,
     1,
     2057,
     1033,
     {"January", "February", "March", "April", "May", "June", "July", "August", "September",
      "October", "November", "December"},
     {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
     {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"}},
};

std::u32string Folded(std::string_view text) {
  std::u32string out;
  for (size_t pos = 0; pos < text.size();) out += FoldCase(NextCodePoint(text, pos));
  return out;
}

constexpr const char* kOrderNames[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};

}  // namespace

const Language& DefaultLanguage() { return kLanguages[0]; }

std::span<const Language> Languages() { return kLanguages; }

const Language* FindLanguage(std::string_view name_or_alias) {
  std::u32string wanted = Folded(name_or_alias);
  for (const Language& l : kLanguages)
    if (Folded(l.name) == wanted || Folded(l.alias) == wanted) return &l;
  return nullptr;
}

std::optional<DateOrder> DateOrderFromName(std::string_view name) {
  std::string lower = Lower(name);
  for (int i = 0; i < 6; ++i)
    if (lower == kOrderNames[i]) return static_cast<DateOrder>(i);
  return std::nullopt;
}

std::string DateOrderName(DateOrder order) { return kOrderNames[static_cast<int>(order)]; }

}  // namespace sandbox
