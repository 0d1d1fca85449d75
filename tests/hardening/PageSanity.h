#pragma once
// What the Status and Configuration pages may show, whatever the block held: every text from
// the pages' fixed set or one of their formatted values, every bar's display within its scale,
// the Channel list a plain ascending run of channels 1..14. Shared by the hostile-peer test and
// the block fuzzer; each check answers the first thing wrong, or an empty text.

#include <string>

class nPConfig;
class nPLinkInfo;

namespace hardening {

std::string CheckLinkInfoPage(const nPLinkInfo& page);
std::string CheckConfigPage(const nPConfig& page);
// Every progress bar of the application, as drawn, lies within its range.
std::string CheckBarDisplays();

} // namespace hardening
