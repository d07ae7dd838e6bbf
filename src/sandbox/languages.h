// The languages a session can switch to with SET LANGUAGE, with the month and day names and the
// date order and first day of week each brings, and the date settings of a session.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sandbox {

// The order SET DATEFORMAT gives to the parts of a numeric date.
enum class DateOrder { kMdy, kDmy, kYmd, kYdm, kMyd, kDym };

struct Language {
  int langid;
  const char* name;   // as SET LANGUAGE and @@LANGUAGE spell it
  const char* alias;  // the English name SET LANGUAGE accepts too
  DateOrder date_order;
  int datefirst;  // 1 = Monday ... 7 = Sunday
  int lcid;
  int msglangid;  // the language of its server messages
  std::array<const char*, 12> months;
  std::array<const char*, 12> short_months;
  std::array<const char*, 7> days;  // Monday first
};

// us_english.
const Language& DefaultLanguage();
std::span<const Language> Languages();
// By name or alias, without regard to case; null when the server has no such language.
const Language* FindLanguage(std::string_view name_or_alias);

// "dmy" etc.; nullopt for other texts.
std::optional<DateOrder> DateOrderFromName(std::string_view name);
std::string DateOrderName(DateOrder order);

// What the session's SET LANGUAGE, SET DATEFORMAT and SET DATEFIRST chose.
struct DateSettings {
  const Language* language = &DefaultLanguage();
  DateOrder date_order = DateOrder::kMdy;
  int datefirst = 7;

  // Takes over the language and the date order and first day it brings.
  void SetLanguage(const Language& l) {
    language = &l;
    date_order = l.date_order;
    datefirst = l.datefirst;
  }
};

}  // namespace sandbox
