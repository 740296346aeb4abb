#pragma once
// A file's name as a member of a JSON object. JSON text is UTF-8, and a name
// need not be: one that is not gets, besides its shown form (each byte that
// is no UTF-8 as U+FFFD), the member `member` + "Bytes" holding its bytes in
// hex, so that two names differing only there stay apart and either can be
// found again.
#include <string>

#include <nlohmann/json.hpp>

namespace qm::cli {

void PutFileName(nlohmann::ordered_json &object, const std::string &member, const std::string &name);

} // namespace qm::cli
